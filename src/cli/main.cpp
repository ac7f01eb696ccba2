// pictrove-cli: the icon engine for scripts and terminals.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#else
#include <windows.h>
#endif

#include "cli/commands.h"
#include "cli/corpus.h"
#include "cli/numbers.h"
#include "cli/scan.h"
#include "cli/thumbnail.h"
#include "corpus/record_reader.h"
#include "memory_reuse.h"
#include "module_loader.h"
#include "path_text.h"
#include "temporary_files.h"

namespace {

constexpr const char* kUsageLine =
    "Usage: pictrove-cli list|extract|thumbnail|scan|similar|index|clusters|report [OPTION]... FILE...";

constexpr const char* kHelp =
    "Usage:\n"
    "  pictrove-cli list [-r] [--json] [--size N] [--cursors] [--collection-ext .EXT] FILE...\n"
    "  pictrove-cli extract [-r] FILE... -o DIR [--index N] [--size N] [--cursors]\n"
    "                       [--ico] [--bmp] [--group-ico] [--all-sizes]\n"
    "  pictrove-cli extract FILE --ics OUT.ics\n"
    "  pictrove-cli thumbnail [-s SIZE] INPUT OUTPUT.png\n"
    "  pictrove-cli scan [-r] [--files-from FILE|-] [-0] [--jobs N] [--all-icons]\n"
    "                    [--max-size BYTES] [--thumbnail N] PATH...\n"
    "  pictrove-cli similar [--max-distance D] [--index N] [--all-icons] [--json]\n"
    "                       REFERENCE [-r] [--files-from FILE|-] [-0] PATH...\n"
    "  pictrove-cli similar --scan-file RECORDS.jsonl REFERENCE\n"
    "  pictrove-cli index [--no-groups] RECORDS.jsonl... -o CORPUS.idx\n"
    "  pictrove-cli similar --index CORPUS.idx REFERENCE | --group GROUP_SHA256\n"
    "  pictrove-cli clusters RECORDS.jsonl...|--index CORPUS.idx [--radius R]\n"
    "                        [--min-size N] [--all-icons] [--jobs N]\n"
    "  pictrove-cli report RECORDS.jsonl... -o REPORT.html [--radius R] [--min-size N]\n"
    "                      [--all-icons] [--jobs N]\n"
    "  pictrove-cli --help | --version\n"
    "\n"
    "FILE is a Windows program or library (PE, NE), an icon, cursor or animated\n"
    "cursor file, an icon collection, a Windows Installer database (.msi), an app\n"
    "package or bundle (.msix, .appx, .msixbundle, .appxbundle), an AppImage or a\n"
    "macOS icon file (.icns).\n"
    "\n"
    "list     shows, per file, how many icons it holds and, per icon, its index,\n"
    "         resource ID or name, the image shown at 32x32 and every stored image\n"
    "         (width x height x bits, @x,y for a cursor's hot spot). --json prints one\n"
    "         JSON array instead; a file that cannot be read is an entry\n"
    "         {\"file\": ..., \"error\": ...}.\n"
    "extract  writes each icon as it is shown, 32x32, to DIR/<file name>_<index>.png;\n"
    "         --index N takes only icon N. --ico writes <file name>_<index>.ico and\n"
    "         --bmp <file name>_<index>.bmp instead, the very files the window's\n"
    "         \"Save Icon as\" commands write (16-colour icon; 32-bit bitmap on white).\n"
    "         --all-sizes also writes every stored image as\n"
    "         DIR/<file name>_<index>_<width>x<height>_<bits>.png, with -2, -3 ...\n"
    "         after the second and later images of the same size and depth.\n"
    "         A file name too long for the folder is shortened before the suffix.\n"
    "         --group-ico writes each whole group instead, every stored image byte\n"
    "         for byte (PNG included) behind a directory rebuilt from the images, as\n"
    "         DIR/<file name>_<index>.ico, or .cur for cursors.\n"
    "         No run writes one name twice: when a name an input would write was\n"
    "         taken by an earlier input of the run (on Windows regardless of case),\n"
    "         all of that input's names get ~2 (~3 ...) before the _<index> part,\n"
    "         e.g. DIR/a_b_c.exe~2_0.png. One input may make extract write at most\n"
    "         64 MiB or 16 times its own size, whichever is more; an input that\n"
    "         would take more is reported and leaves no file behind.\n"
    "         --ics OUT writes the file's icons as one icon collection file, as the\n"
    "         window's \"Save Icon Collection as\" does; OUT without an extension\n"
    "         gets the collection extension.\n"
    "thumbnail writes the first icon of INPUT as a PNG that fits SIZE x SIZE\n"
    "         (8 to 1024, default 256), from the image best suited to that size.\n"
    "scan     prints one JSON record a line per file, in input order, as each is\n"
    "         done: file, size, sha256 of the whole file, kind, icons (the count)\n"
    "         and main, the main icon (icon 0): index, id, dhash (its difference\n"
    "         hash, 16 hex digits), group_sha256 (of the file --group-ico writes)\n"
    "         and images (w, h, bits, png, and the offset and length of the image\n"
    "         bytes in the file). --all-icons adds all, every icon alike. A file\n"
    "         that cannot be read is {\"file\": ..., \"error\": ...}; so is one larger\n"
    "         than --max-size BYTES, and one that changed while it was read.\n"
    "         --thumbnail N adds thumbnail to each icon: its picture fitted into\n"
    "         N x N as the thumbnail command draws it, a PNG in base64.\n"
    "         A name that is not UTF-8 also comes as file_bytes, its bytes in\n"
    "         base64.\n"
    "similar  prints the icons whose difference hash is within --max-distance D\n"
    "         (default 10) of REFERENCE's, nearest first, as distance<TAB>file<TAB>\n"
    "         index lines or, with --json, JSON records. REFERENCE is an icon source\n"
    "         (its icon --index N, default 0) or a hash of 16 hex digits. The main\n"
    "         icon of each file is compared, every icon with --all-icons.\n"
    "         --scan-file searches the records of an earlier scan instead of files;\n"
    "         lines that are no scan record are counted and reported (exit status\n"
    "         1). A name holding a control character or a quote is shown quoted as\n"
    "         ls --quoting-style=shell-escape does; --json gives names as they are.\n"
    "         --index CORPUS.idx searches an index instead, with the same answers;\n"
    "         --group GROUP_SHA256 there lists the icons of that group hash.\n"
    "index    builds the look-alike index of scan records (- for standard input)\n"
    "         into CORPUS.idx; --no-groups leaves out the group hashes (--group).\n"
    "clusters prints the icon families of scan records or of an index, one JSON\n"
    "         line each, largest first: icons with equal group hashes or hashes\n"
    "         within --radius R (default 4) of each other, linked one to the next;\n"
    "         families smaller than --min-size N (default 2) are left out.\n"
    "report   writes the families clusters finds in scan records (- for standard\n"
    "         input) as one HTML page that needs no network: each with its\n"
    "         representative icon, from the records' thumbnails or else from its\n"
    "         file, and its members; a search box finds a file name, a file's\n"
    "         SHA-256 or a hash. Lines that are no scan record are reported (exit\n"
    "         status 1).\n"
    "\n"
    "--files-from FILE  also reads the files named in FILE (- for standard input),\n"
    "             one a line, or NUL-separated with -0 (as find -print0 writes).\n"
    "--jobs N     reads N files at once (default: one per core).\n"
    "\n"
    "--size N     (8 to 1024) chooses and scales the icon for N x N instead of\n"
    "             32 x 32, in list's \"shown\" and in extract's PNG files; --ico and\n"
    "             --bmp stay the window's 32 x 32 files.\n"
    "--cursors    reads the cursor groups of executables (PE and NE) instead of\n"
    "             their icon groups; cursor files are read either way.\n"
    "-r, --recursive  FILE may be a folder: every icon source below it is read,\n"
    "             depth first in name order, links to folders (on Windows also\n"
    "             junctions and every other reparse point to a folder) not\n"
    "             followed, files that are no icon source by their first bytes\n"
    "             skipped. extract names outputs\n"
    "             DIR/<path below the folder, '/' as '_'>_<index>.png. A folder\n"
    "             that cannot be read is reported and skipped; DIR itself is never\n"
    "             walked, also when it is the folder given (reported, exit status\n"
    "             1). Files without icons are passed over, --index N or not.\n"
    "\n"
    "A Windows system library that holds no icons of its own (Windows 10 and\n"
    "later) shows those of SystemResources/<name>.mun in the folder above its\n"
    "own, as Windows does; list names that file after \"from\".\n"
    "\n"
    "Icon collection files are read when their extension is the collection\n"
    "extension (.ics unless --collection-ext says otherwise) and their trailer\n"
    "confirms it.\n"
    "\n"
    "Executables and libraries (PE32, PE32+, 16-bit NE, .icl), icon, cursor and\n"
    "animated cursor files are read; only regular files are. Exit status: 0 when\n"
    "every file could be read and every icon written, 1 when some could not,\n"
    "2 for a usage error, or a --files-from list or --scan-file that cannot be\n"
    "read.\n";

int usageError(const std::string& message) {
    std::cerr << "pictrove-cli: " << message << "\n" << kUsageLine << "\nTry 'pictrove-cli --help'.\n";
    return 2;
}

bool stderrIsTerminal() {
#ifndef _WIN32
    return isatty(STDERR_FILENO) != 0;
#else
    return false;
#endif
}

using pictrove::cli::Options;

// One command-line option: its spellings, whether it takes a value, and what
// it does to the options. `apply` returns an error message for a bad value.
struct OptionRule {
    std::vector<std::string> names;
    bool takesValue;
    std::function<std::optional<std::string>(Options&, const std::string& value)> apply;
};

std::optional<std::string> flag(bool Options::*member, Options& options) {
    options.*member = true;
    return std::nullopt;
}

const std::vector<OptionRule>& optionRules() {
    static const std::vector<OptionRule> rules = {
        {{"--json"}, false, [](Options& o, const std::string&) { return flag(&Options::json, o); }},
        {{"--all-sizes"}, false, [](Options& o, const std::string&) { return flag(&Options::allSizes, o); }},
        {{"--ico"}, false, [](Options& o, const std::string&) { return flag(&Options::ico, o); }},
        {{"--bmp"}, false, [](Options& o, const std::string&) { return flag(&Options::bmp, o); }},
        {{"--group-ico"}, false, [](Options& o, const std::string&) { return flag(&Options::groupIco, o); }},
        {{"--cursors"}, false, [](Options& o, const std::string&) { return flag(&Options::cursors, o); }},
        {{"-r", "--recursive"},
         false,
         [](Options& o, const std::string&) { return flag(&Options::recursive, o); }},
        {{"--size"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             const auto value = pictrove::cli::wholeNumber(v, 8, 1024);
             if (!value) return "--size needs a number from 8 to 1024";
             o.size = static_cast<std::uint32_t>(*value);
             return std::nullopt;
         }},
        {{"--ics"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             o.collection = pictrove::pathFromUtf8(v);
             return std::nullopt;
         }},
        {{"--collection-ext"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             if (v.size() < 2 || v[0] != '.') return "--collection-ext needs an extension such as .ics";
             o.collectionExtension = v;
             return std::nullopt;
         }},
        {{"-o", "--output"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             o.outputDir = pictrove::pathFromUtf8(v);
             return std::nullopt;
         }},
        {{"--all-icons"}, false, [](Options& o, const std::string&) { return flag(&Options::allIcons, o); }},
        {{"-0", "--null"},
         false,
         [](Options& o, const std::string&) { return flag(&Options::nulSeparated, o); }},
        {{"--files-from"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             o.filesFrom = v;
             return std::nullopt;
         }},
        {{"--scan-file"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             o.scanFile = v;
             return std::nullopt;
         }},
        {{"--jobs"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             const auto value = pictrove::cli::wholeNumber(v, 1, 256);
             if (!value) return "--jobs needs a number from 1 to 256";
             o.jobs = static_cast<std::size_t>(*value);
             return std::nullopt;
         }},
        {{"--max-size"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             const auto value = pictrove::cli::wholeNumber(v, 0, UINT64_MAX);
             if (!value) return "--max-size needs a number of bytes";
             o.maxSize = *value;
             return std::nullopt;
         }},
        {{"--max-distance"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             const auto value = pictrove::cli::wholeNumber(v, 0, 64);
             if (!value) return "--max-distance needs a number from 0 to 64";
             o.maxDistance = static_cast<int>(*value);
             return std::nullopt;
         }},
        {{"--thumbnail"},
         true,
         [](Options& o, const std::string& v) -> std::optional<std::string> {
             const auto value = pictrove::cli::wholeNumber(v, 8, 1024);
             if (!value) return "--thumbnail needs a number from 8 to 1024";
             o.thumbnail = static_cast<std::uint32_t>(*value);
             return std::nullopt;
         }},
        // An icon's number, or else an index file built by `index`.
        {{"--index"},
         true,
         [](Options& o, const std::string& v) -> std::
                                                  optional<std::string> {
                                                      o.indexArgument = v;
                                                      if (const auto value =
                                                              pictrove::cli::wholeNumber(v, 0, SIZE_MAX)) {
                                                          o.index = static_cast<std::size_t>(*value);
                                                      } else {
                                                          o.indexFile = v;
                                                      }
                                                      return std::nullopt;
                                                  }},
        {{"--group"},
         true,
         [](Options& o,
            const std::string& v) -> std::
                                      optional<std::string> {
                                          if (!pictrove::corpus::parseSha256(v))
                                              return "--group needs a group_sha256 of 64 hex digits";
                                          o.group = v;
                                          return std::nullopt;
                                      }},
        {{"--no-groups"}, false, [](Options& o, const std::string&) { return flag(&Options::noGroups, o); }},
        {{"--radius"},
         true,
         [](Options& o, const std::string& v) -> std::
                                                  optional<std::string> {
                                                      const auto value = pictrove::cli::wholeNumber(v, 0, 64);
                                                      if (!value)
                                                          return "--radius needs a number from 0 to 64";
                                                      o.radius = static_cast<int>(*value);
                                                      return std::nullopt;
                                                  }},
        {{"--min-size"},
         true,
         [](Options& o, const std::string& v) -> std::
                                                  optional<std::string> {
                                                      const auto value =
                                                          pictrove::cli::wholeNumber(v, 1, SIZE_MAX);
                                                      if (!value) return "--min-size needs a number from 1";
                                                      o.minSize = static_cast<std::size_t>(*value);
                                                      return std::nullopt;
                                                  }},
    };
    return rules;
}

const OptionRule* findRule(const std::string& arg) {
    for (const OptionRule& rule : optionRules()) {
        for (const std::string& name : rule.names) {
            if (name == arg) return &rule;
        }
    }
    return nullptr;
}

// Fills `options` from the arguments after the command; an error message
// when they cannot be understood.
std::optional<std::string> parseArguments(const std::vector<std::string>& args, Options& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            options.files.insert(options.files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                 args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            options.files.push_back(arg);
            continue;
        }
        const OptionRule* rule = findRule(arg);
        if (!rule) return "unknown option " + arg;
        std::string value;
        if (rule->takesValue) {
            if (++i == args.size()) return arg + " needs a value";
            value = args[i];
        }
        if (auto error = rule->apply(options, value)) return error;
    }
    return std::nullopt;
}

}  // namespace

static int run(const std::vector<std::string>& args) {
    if (args.empty()) return usageError("no command given");
    const std::string command = args.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kHelp;
        return 0;
    }
    if (command == "--version") {
        std::cout << "pictrove-cli " << PICTROVE_VERSION << "\n";
        return 0;
    }

    if (command == "thumbnail") {
        return pictrove::cli::thumbnail({args.begin() + 1, args.end()}, Options{}.collectionExtension,
                                        std::cerr);
    }

    Options options;
    options.progress = stderrIsTerminal();
    if (auto error = parseArguments({args.begin() + 1, args.end()}, options)) return usageError(*error);
    const bool corpusIndex = command == "index" || command == "clusters" || command == "report";
    if (command != "index" && options.noGroups) return usageError("--no-groups is for index");
    if (!corpusIndex && command != "similar" && (options.indexFile || options.group))
        return usageError("--index needs a number");
    if (!corpusIndex && command != "similar" &&
        (options.radius != Options{}.radius || options.minSize != Options{}.minSize))
        return usageError("--radius and --min-size are for clusters and report");
    if (command != "scan" && options.thumbnail) return usageError("--thumbnail is for scan");
    if (command == "index") {
        if (options.files.empty()) return usageError("no records file given");
        if (!options.outputDir) return usageError("index needs -o CORPUS.idx");
        if (options.indexArgument || options.group || options.json || options.allIcons || options.recursive)
            return usageError("index takes only RECORDS.jsonl..., -o CORPUS.idx and --no-groups");
        return pictrove::cli::buildIndex(options, stdin, std::cerr);
    }
    if (command == "clusters") {
        if (options.files.empty() == !options.indexArgument)
            return usageError("clusters takes RECORDS.jsonl... or --index CORPUS.idx");
        if (options.outputDir || options.group || options.json || options.recursive || options.filesFrom)
            return usageError("clusters takes only --index, --radius, --min-size, --all-icons and --jobs");
        return pictrove::cli::clusters(options, stdin, std::cout, std::cerr);
    }
    if (command == "report") {
        if (options.files.empty()) return usageError("no records file given");
        if (!options.outputDir) return usageError("report needs -o REPORT.html");
        if (options.indexArgument || options.group || options.json || options.recursive ||
            options.filesFrom || options.nulSeparated || options.maxSize || options.scanFile ||
            options.allSizes || options.groupIco || options.ico || options.bmp || options.collection ||
            options.cursors)
            return usageError(
                "report takes only RECORDS.jsonl..., -o REPORT.html, --radius, --min-size, --all-icons and "
                "--jobs");
        return pictrove::cli::report(options, stdin, std::cerr);
    }
    const bool corpus = command == "scan" || command == "similar";
    if (options.files.empty() && !(command == "scan" && options.filesFrom) && !options.group)
        return usageError("no file given");
    if (!corpus && (options.filesFrom || options.nulSeparated || options.jobs || options.allIcons ||
                    options.maxSize || options.scanFile))
        return usageError(
            "--files-from, -0, --jobs, --all-icons, --max-size and --scan-file are for scan and similar");
    if (command == "scan") {
        if (options.json || options.outputDir || options.index || options.allSizes || options.groupIco ||
            options.ico || options.bmp || options.collection || options.scanFile)
            return usageError(
                "scan takes only -r, --files-from, -0, --jobs, --all-icons, --max-size and --thumbnail");
        return pictrove::cli::scan(options, stdin, std::cout, std::cerr);
    }
    if (command == "similar") {
        if (options.outputDir || options.allSizes || options.groupIco || options.ico || options.bmp ||
            options.collection || options.maxSize)
            return usageError(
                "similar takes only --max-distance, --index, --all-icons, --json, --scan-file, -r, "
                "--files-from, -0 and --jobs");
        if (options.group && !options.indexFile) return usageError("--group needs --index CORPUS.idx");
        if (options.indexFile && options.scanFile)
            return usageError("--index CORPUS.idx and --scan-file are two sources");
        if (options.group ? !options.files.empty() : options.indexFile && options.files.size() != 1)
            return usageError("--index CORPUS.idx takes REFERENCE alone, or --group HASH and no file");
        if (options.scanFile && options.files.size() != 1)
            return usageError("--scan-file takes REFERENCE alone");
        if (!options.scanFile && !options.indexFile && options.files.size() < 2 && !options.filesFrom)
            return usageError("similar needs REFERENCE and a PATH");
        return pictrove::cli::similar(options, stdin, std::cout, std::cerr);
    }

    if (command == "list") {
        if (options.allSizes || options.outputDir || options.index || options.groupIco || options.ico ||
            options.bmp || options.collection)
            return usageError("list takes only --json, --size, --cursors and -r");
        return pictrove::cli::list(options, std::cout, std::cerr);
    }
    if (command == "extract") {
        if (options.json) return usageError("extract does not take --json");
        if (!options.outputDir && !options.collection)
            return usageError("extract needs -o DIR or --ics FILE");
        if (options.collection && (options.files.size() != 1 || options.recursive))
            return usageError("--ics takes one FILE");
        if (options.groupIco && options.ico)
            return usageError("--group-ico and --ico both write <name>_<index>.ico");
        return pictrove::cli::extract(options, std::cerr);
    }
    return usageError("unknown command " + command);
}

// A module the build made that this run cannot load ends what was asked
// with the module's name and why, whatever command met it (those that read
// files one by one say so for each file and go on). So does running out of
// memory (a corpus too large for the machine): outputs are saved whole or
// not at all, so none is left half written.
static int runReportingModules(const std::vector<std::string>& args) {
    try {
        return run(args);
    } catch (const pictrove::ModuleError& error) {
        std::cout.flush();
        std::cerr << "pictrove-cli: " << error.what() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cout.flush();
        std::cerr << "pictrove-cli: out of memory: " << (args.empty() ? std::string() : args.front())
                  << " needs more memory than it was given\n";
        return 1;
    }
}

#ifdef _WIN32
// Arguments arrive as UTF-16, so that any file name can be given; from here
// on they are UTF-8, which is also what the console is told to show.
int wmain(int argc, wchar_t** argv) {
    pictrove::keepFreedMemory();
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(pictrove::utf8FromUtf16(argv[i]));
    return runReportingModules(args);
}
#else
int main(int argc, char** argv) {
    pictrove::keepFreedMemory();
    // Ctrl+C or a kill in the middle of a save leaves no temporary file.
    pictrove::removeTemporariesOnSignals();
    return runReportingModules({argv + 1, argv + argc});
}
#endif
