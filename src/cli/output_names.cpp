#include "cli/output_names.h"

#ifndef _WIN32
#include <sys/statvfs.h>
#include <unistd.h>
#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif
#else
#include <windows.h>
#endif

#include "path_text.h"
#include "paths.h"

namespace pictrove::cli {
namespace {

std::size_t nameLimit(const std::filesystem::path& folder) {
#ifndef _WIN32
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit > 0) return static_cast<std::size_t>(limit);
#endif
    (void)folder;
    return 255;
}

// Past this many markers for one stem the inputs are beyond anything a
// folder tree holds; the input is reported instead.
constexpr unsigned kMaxMarker = 100000;

}  // namespace

OutputNames::OutputNames(const std::filesystem::path& folder, std::string stem)
    : folder_(folder), stem_(std::move(stem)), limit_(nameLimit(folder)) {}

std::string OutputNames::name(const std::string& suffix) const {
    return fitFileName(stem_, marker_ + suffix, limit_);
}

std::filesystem::path OutputNames::operator()(const std::string& suffix) const {
    return folder_ / pathFromUtf8(name(suffix));
}

std::uint64_t folderBlockSize(const std::filesystem::path& folder) {
#ifndef _WIN32
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) == 0 && info.f_bsize > 0) return info.f_bsize;
#endif
    (void)folder;
    return 4096;
}

bool foldsLetterCase(const std::filesystem::path& folder) {
#ifdef _WIN32
    (void)folder;
    return true;
#elif defined(__linux__)
    constexpr long kFat = 0x4d44, kExfat = 0x2011BAB0;  // statfs's f_type
    struct statfs system {};
    if (::statfs(folder.c_str(), &system) == 0 && (system.f_type == kFat || system.f_type == kExfat))
        return true;
#ifndef FS_CASEFOLD_FL
    constexpr int FS_CASEFOLD_FL = 0x40000000;
#endif
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;  // an int, whatever the request's declared type
    const bool folds = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
    ::close(fd);
    return folds;
#else
    (void)folder;
    return false;
#endif
}

std::string folderNameKey(std::string_view name, bool foldsCase) {
    if (!foldsCase) return std::string(name);
#ifdef _WIN32
    // NTFS compares names by the invariant upper case of each UTF-16 unit.
    std::wstring wide = pathFromUtf8(name).native();
    if (wide.empty()) return {};
    std::wstring upper(wide.size(), L'\0');
    const int length =
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                      upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (length <= 0) return std::string(name);
    upper.resize(static_cast<std::size_t>(length));
    return utf8FromUtf16(upper);
#else
    return asciiLower(name);
#endif
}

std::optional<std::string> NameBook::take(
    std::size_t input, const std::string& stem,
    const std::function<std::vector<std::string>(const std::string&)>& namesFor) {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [&] { return next_ >= input; });
    const std::string stemKey = folderNameKey(stem, foldsCase_);
    unsigned& marker = lastMarker_[stemKey];
    std::optional<std::string> found;
    for (; !found && marker <= kMaxMarker; ++marker) {
        const std::string text = marker <= 1 ? "" : "~" + std::to_string(marker);
        std::vector<std::string> keys;
        bool fresh = true;
        std::unordered_set<std::string> own;
        for (const std::string& name : namesFor(text)) {
            std::string key = folderNameKey(name, foldsCase_);
            if (taken_.count(key) || !own.insert(key).second) {
                fresh = false;
                break;
            }
            keys.push_back(std::move(key));
        }
        if (!fresh) continue;
        taken_.insert(keys.begin(), keys.end());
        found = text;
    }
    // The next input of this stem starts past the marker just given.
    settle(input);
    return found;
}

void NameBook::pass(std::size_t input) {
    const std::lock_guard lock(mutex_);
    settle(input);
}

void NameBook::settle(std::size_t input) {
    // A run that streams its inputs tells their count only as it goes.
    if (input >= settled_.size()) settled_.resize(input + 1, false);
    if (settled_[input]) return;
    settled_[input] = true;
    while (next_ < settled_.size() && settled_[next_]) ++next_;
    turn_.notify_all();
}

}  // namespace pictrove::cli
