// pictrove-cli: the icon engine for scripts and terminals.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/commands.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  pictrove-cli list [--json] [--collection-ext .EXT] FILE...\n"
    "  pictrove-cli extract FILE... -o DIR [--index N] [--ico] [--bmp] [--all-sizes]\n"
    "  pictrove-cli extract FILE --ics OUT.ics\n"
    "  pictrove-cli --help | --version\n"
    "\n"
    "list     shows, per file, how many icons it holds and, per icon, its index,\n"
    "         resource ID or name, the image shown at 32x32 and every stored image\n"
    "         (width x height x bits). --json prints one JSON array instead.\n"
    "extract  writes each icon as it is shown, 32x32, to DIR/<file name>_<index>.png;\n"
    "         --index N takes only icon N. --ico writes <file name>_<index>.ico and\n"
    "         --bmp <file name>_<index>.bmp instead, the very files the window's\n"
    "         \"Save Icon as\" commands write (16-colour icon; 32-bit bitmap on white).\n"
    "         --all-sizes also writes every stored image as\n"
    "         DIR/<file name>_<index>_<width>x<height>_<bits>.png.\n"
    "         --ics OUT writes the file's icons as one icon collection file, as the\n"
    "         window's \"Save Icon Collection as\" does.\n"
    "\n"
    "Icon collection files are read when their extension is the collection\n"
    "extension (.ics unless --collection-ext says otherwise) and their trailer\n"
    "confirms it.\n"
    "\n"
    "Executables and libraries (PE32, PE32+, 16-bit NE, .icl), icon, cursor and\n"
    "animated cursor files are read. Exit status: 0 when every file could be\n"
    "read, 1 when some could not, 2 for a usage error.\n";

int usageError(const std::string& message) {
    std::cerr << "pictrove-cli: " << message << "\n" << kUsage;
    return 2;
}

bool stderrIsTerminal() {
#ifndef _WIN32
    return isatty(STDERR_FILENO) != 0;
#else
    return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given");
    const std::string command = args.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "--version") {
        std::cout << "pictrove-cli " << PICTROVE_VERSION << "\n";
        return 0;
    }

    pictrove::cli::Options options;
    options.progress = stderrIsTerminal();
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--all-sizes") {
            options.allSizes = true;
        } else if (arg == "--ico") {
            options.ico = true;
        } else if (arg == "--bmp") {
            options.bmp = true;
        } else if (arg == "--ics") {
            if (++i == args.size()) return usageError("--ics needs a file name");
            options.collection = args[i];
        } else if (arg == "--collection-ext") {
            if (++i == args.size() || args[i].size() < 2 || args[i][0] != '.') {
                return usageError("--collection-ext needs an extension such as .ics");
            }
            options.collectionExtension = args[i];
        } else if (arg == "-o" || arg == "--output") {
            if (++i == args.size()) return usageError(arg + " needs a folder");
            options.outputDir = args[i];
        } else if (arg == "--index") {
            if (++i == args.size()) return usageError("--index needs a number");
            char* end = nullptr;
            const unsigned long value = std::strtoul(args[i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || args[i][0] == '-')
                return usageError("--index needs a number");
            options.index = value;
        } else if (arg == "--") {
            options.files.insert(options.files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                 args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty()) return usageError("no file given");

    if (command == "list") {
        if (options.allSizes || options.outputDir || options.index)
            return usageError("list takes only --json");
        return pictrove::cli::list(options, std::cout, std::cerr);
    }
    if (command == "extract") {
        if (options.json) return usageError("extract does not take --json");
        if (!options.outputDir && !options.collection)
            return usageError("extract needs -o DIR or --ics FILE");
        if (options.collection && options.files.size() != 1) return usageError("--ics takes one FILE");
        return pictrove::cli::extract(options, std::cerr);
    }
    return usageError("unknown command " + command);
}
