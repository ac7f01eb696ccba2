#include "cli/path_stream.h"

#include <filesystem>
#include <istream>
#include <ostream>

#include "cli/commands.h"
#include "cli/inputs.h"
#include "path_text.h"

namespace pictrove::cli {

PathStream::PathStream(const Options& options, std::istream& standardInput, std::ostream& err)
    : options_(options), err_(err) {
    static std::istringstream nothing;
    if (!options.filesFrom) {
        list_ = &nothing;
    } else if (*options.filesFrom == "-") {
        list_ = &standardInput;
    } else {
        listFile_.open(pathFromUtf8(*options.filesFrom), std::ios::binary);
        if (listFile_)
            list_ = &listFile_;
        else
            err << "pictrove-cli: cannot read the file list " << *options.filesFrom << "\n";
    }
}

std::optional<std::string> PathStream::expand(std::string name) {
    std::error_code error;
    if (!options_.recursive || name.empty() || !std::filesystem::is_directory(pathFromUtf8(name), error))
        return name;
    Options one = options_;
    one.files = {std::move(name)};
    bool complete = true;
    for (InputFile& input : collectInputs(one, err_, complete)) walked_.push_back(std::move(input.path));
    complete_ &= complete;
    return std::nullopt;
}

std::optional<std::string> PathStream::next() {
    for (;;) {
        if (!walked_.empty()) {
            std::string name = std::move(walked_.front());
            walked_.pop_front();
            return name;
        }
        if (argument_ < options_.files.size()) {
            if (auto name = expand(options_.files[argument_++])) return name;
            continue;
        }
        if (!list_) return std::nullopt;
        auto name = listedName();
        if (!name) return std::nullopt;
#ifdef _WIN32
        // Lists made on Windows end their lines in CR LF; no Windows name holds a CR.
        if (!options_.nulSeparated && !name->empty() && name->back() == '\r') name->pop_back();
#endif
        if (auto expanded = expand(std::move(*name))) return expanded;
    }
}

std::optional<std::string> PathStream::listedName() {
    // No file system takes names this long: a longer one is cut (opening it
    // then fails and its record says so) and read on to its end, so a list
    // without line ends cannot take all memory.
    constexpr std::size_t kLongestName = 64 * 1024;
    const int end = options_.nulSeparated ? '\0' : '\n';
    std::streambuf* in = list_->rdbuf();
    std::string name;
    bool any = false;
    for (int c = in->sbumpc(); c != std::char_traits<char>::eof(); c = in->sbumpc()) {
        any = true;
        if (c == end) return name;
        if (name.size() < kLongestName) name.push_back(static_cast<char>(c));
    }
    if (!any) return std::nullopt;
    return name;
}

}  // namespace pictrove::cli
