// AppImages made here from folders the test lays out: of type 2 by
// mksquashfs, behind a copy of a real ELF program marked as an AppImage
// runtime; of type 1 by genisoimage, with the start of that program in the
// ISO 9660 image's system area. And one type 1 AppImage of AppImage's own
// tools (tests/data/appimage/README.md).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "icon_source/format_module.h"
#include "icon_source/readers.h"
#include "image/png.h"
#include "image/svg.h"
#include "module_loader.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

namespace fs = std::filesystem;
using Data = std::vector<std::byte>;

void writeFile(const fs::path& path, const Data& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Data readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Data bytes(chars.size());
    std::memcpy(bytes.data(), chars.data(), chars.size());
    return bytes;
}

// What a folder holds: files, and links by their target.
struct Entry {
    std::string path;
    Data bytes = {};
    std::string linkTo = {};
    std::string hardLinkTo = {};  // a file of the folder
};

// The types of AppImage: 2 holds a SquashFS image, 1 an ISO 9660 one.
constexpr int kTypes[] = {2, 1};

class AppImageReader : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v mksquashfs >/dev/null 2>&1") != 0 ||
            std::system("command -v genisoimage >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "mksquashfs or genisoimage is missing";
        work_ = fs::temp_directory_path() /
                ("pictrove-appimage-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(work_);
        fs::create_directories(work_);
    }
    void TearDown() override { fs::remove_all(work_); }

    // The AppImage of `type` of a folder of `entries`.
    Data appImage(const std::vector<Entry>& entries, int type = 2) {
        const fs::path folder = work_ / "folder";
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const Entry& entry : entries) {
            fs::create_directories((folder / entry.path).parent_path());
            if (!entry.linkTo.empty()) {
                fs::create_symlink(entry.linkTo, folder / entry.path);
            } else if (!entry.hardLinkTo.empty()) {
                fs::create_hard_link(folder / entry.hardLinkTo, folder / entry.path);
            } else {
                writeFile(folder / entry.path, entry.bytes);
            }
        }
        return type == 1 ? isoAppImage(folder) : squashAppImage(folder);
    }

    // Rock Ridge names and links, the runtime's first 32 KiB as the system
    // area, and its mark.
    Data isoAppImage(const fs::path& folder) {
        const fs::path image = work_ / "image.iso";
        Data runtime = readFile("/bin/true");
        runtime.resize(32 * 1024);
        runtime[8] = std::byte{'A'}, runtime[9] = std::byte{'I'}, runtime[10] = std::byte{1};
        writeFile(work_ / "runtime", runtime);
        const std::string command = "genisoimage -quiet -no-pad -R -J -V AppImage -G '" +
                                    (work_ / "runtime").string() + "' -o '" + image.string() + "' '" +
                                    folder.string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return readFile(image);
    }

    Data squashAppImage(const fs::path& folder) {
        const fs::path image = work_ / "image.sqfs";
        fs::remove(image);
        const std::string command = "mksquashfs '" + folder.string() + "' '" + image.string() +
                                    "' -quiet -noappend -all-root -no-progress >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        Data file = readFile("/bin/true");
        file[8] = std::byte{'A'}, file[9] = std::byte{'I'}, file[10] = std::byte{2};
        const Data squash = readFile(image);
        file.insert(file.end(), squash.begin(), squash.end());
        return file;
    }

    fs::path work_;
};

const std::string kDesktop = "[Desktop Entry]\nType=Application\nName=A\nIcon = app\n";

TEST_F(AppImageReader, DirIconThenTheDesktopFilesIconOfEverySize) {
    for (const int type : kTypes) {
        SCOPED_TRACE(type);
        const Data file = appImage(
            {
                {"app.desktop", textOf("[Desktop Action New]\nIcon=other\n" + kDesktop)},
                {"app.png", pngOf(64)},
                {".DirIcon", {}, "app.png"},
                {"usr/share/icons/hicolor/16x16/apps/app.png", pngOf(16)},
                {"usr/share/icons/hicolor/64x64/apps/app.png",
                 {},
                 "../../../../../../app.png"},  // once in the icon
                {"usr/share/icons/hicolor/256x256/apps/app.png", pngOf(256)},
                {"usr/share/icons/hicolor/32x32/apps/other.png", pngOf(32)},
            },
            type);
        const IconFile icons = IconFile::fromFile(readWhereAsked(file));
        ASSERT_EQ(icons.kind(), SourceKind::appimage);
        EXPECT_EQ(iconsOf(icons), (std::vector<std::string>{".DirIcon 64", "app 64 16 256"}));
        // The picture both names lead to is read once: both icons hold the same bytes.
        EXPECT_EQ(icons.group(0).images[0].data.get().data(), icons.group(1).images[0].data.get().data());
        EXPECT_EQ(iconsOf(IconFile::fromFile(readWhereAsked(file), GroupKind::icons, 1)),
                  std::vector<std::string>{".DirIcon 64"});
    }
}

// The image starts behind the runtime's section headers, wherever a 32-bit
// or a 64-bit runtime puts them.
TEST_F(AppImageReader, TheImageIsFoundBehindARuntimeOfEitherWordSize) {
    const Data whole = appImage({{".DirIcon", pngOf(48)}});
    const Data runtime = readFile("/bin/true");
    const Data squash(whole.begin() + static_cast<std::ptrdiff_t>(runtime.size()), whole.end());
    // A 32-bit runtime: its header, then three section headers of 40 bytes.
    const auto put = [](Data& bytes, std::size_t at, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes[at + static_cast<std::size_t>(i)] = std::byte(value >> (8 * i));
    };
    Data elf32(52 + 3 * 40);
    std::memcpy(elf32.data(),
                "\x7f"
                "ELF\x01\x01\x01\0AI\x02",
                11);
    put(elf32, 0x20, 52, 4);  // where the section headers lie
    put(elf32, 0x2E, 40, 2);  // the size of one
    put(elf32, 0x30, 3, 2);   // how many
    for (const auto& [elfClass, found] : {std::pair{1, true}, std::pair{3, false}}) {
        Data file = elf32;
        file[4] = std::byte(elfClass);
        file.insert(file.end(), squash.begin(), squash.end());
        const IconFile icons = openBytes(file);
        EXPECT_EQ(
            icons.kind() == SourceKind::appimage && iconsOf(icons) == std::vector<std::string>{".DirIcon 48"},
            found)
            << elfClass;
    }
}

TEST_F(AppImageReader, LinksAreFollowedInsideTheImageOnly) {
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        std::vector<std::string> icons;
    } cases[] = {
        {"a chain through folders",
         {{".DirIcon", {}, "share/link.png"},
          {"share/link.png", {}, "../icons/real.png"},
          {"icons/real.png", pngOf(20)}},
         {".DirIcon 20"}},
        {"a cycle", {{".DirIcon", {}, "a.png"}, {"a.png", {}, "b.png"}, {"b.png", {}, "a.png"}}, {}},
        {"a link to itself", {{".DirIcon", {}, ".DirIcon"}}, {}},
        // It names the system's file, even where the image holds one there.
        {"an absolute target",
         {{".DirIcon", {}, "/usr/share/pixmaps/a.png"}, {"usr/share/pixmaps/a.png", pngOf(8)}},
         {}},
        {"a target above the root", {{".DirIcon", {}, "../../outside.png"}, {"outside.png", pngOf(8)}}, {}},
        {"a folder", {{".DirIcon/x.png", pngOf(8)}}, {}},
        {"not a picture", {{".DirIcon", textOf("#!/bin/sh\n")}}, {}},
        // One file under two names, either of them met first.
        {"a hard link", {{"a/icon.png", pngOf(12)}, {".DirIcon", {}, {}, "a/icon.png"}}, {".DirIcon 12"}},
        {"a hard link's first name",
         {{".DirIcon", pngOf(12)}, {"z/icon.png", {}, {}, ".DirIcon"}},
         {".DirIcon 12"}},
    };
    for (const int type : kTypes) {
        for (const Case& c : cases) {
            const IconFile icons = openBytes(appImage(c.entries, type));
            EXPECT_EQ(icons.kind(), SourceKind::appimage) << c.what << ", type " << type;
            EXPECT_EQ(iconsOf(icons), c.icons) << c.what << ", type " << type;
            EXPECT_EQ(icons.readFailure(), std::nullopt) << c.what << ", type " << type;
        }
        // Sixteen hops are followed, the seventeenth is not.
        for (const std::size_t hops : {std::size_t{16}, std::size_t{17}}) {
            std::vector<Entry> chain{{".DirIcon", {}, "l1"}};
            for (std::size_t i = 1; i < hops; ++i)
                chain.push_back({"l" + std::to_string(i), {}, "l" + std::to_string(i + 1)});
            chain.push_back({"l" + std::to_string(hops), pngOf(8)});
            EXPECT_EQ(openBytes(appImage(chain, type)).count(), hops <= limits::kMaxLinkHops ? 1u : 0u)
                << hops << ", type " << type;
        }
    }
}

TEST_F(AppImageReader, TheDesktopFileNamesAnIconNotAPath) {
    struct Case {
        const char* what;
        std::string desktop;
        std::vector<std::string> icons;
    } cases[] = {
        {"a name", kDesktop, {"app 48"}},
        {"a name with its extension", "[Desktop Entry]\nIcon=app.png\n", {"app.png 48"}},
        {"a path", "[Desktop Entry]\nIcon=/usr/share/icons/app.png\n", {}},
        {"the key of another group", "[Desktop Action X]\nIcon=app\n", {}},
        {"a key that only starts alike", "[Desktop Entry]\nIconName=app\n", {}},
    };
    for (const int type : kTypes) {
        for (const Case& c : cases) {
            // The first desktop file by name counts, wherever its bytes lie.
            const IconFile icons = openBytes(appImage({{"b.desktop", textOf("[Desktop Entry]\nIcon=other\n")},
                                                       {"a.desktop", textOf(c.desktop)},
                                                       {"other.png", pngOf(8)},
                                                       {"app.png", pngOf(48)}},
                                                      type));
            EXPECT_EQ(iconsOf(icons), c.icons) << c.what << ", type " << type;
        }
    }
}

TEST_F(AppImageReader, DamageGivesNoIcons) {
    Data file = appImage({{".DirIcon", pngOf(8)}});
    const std::size_t runtime = readFile("/bin/true").size();
    struct Case {
        const char* what;
        std::size_t at;
        std::byte value;
    } cases[] = {
        {"the image's magic", runtime, std::byte{'x'}},
        {"its block size", runtime + 12, std::byte{0xFF}},
        {"its compressor", runtime + 20, std::byte{0x7F}},
        {"its fragment count", runtime + 19, std::byte{0x7F}},
    };
    for (const Case& c : cases) {
        Data damaged = file;
        damaged.at(c.at) = c.value;
        const IconFile icons = openBytes(damaged);
        EXPECT_EQ(icons.count(), 0u) << c.what;
    }
    // Cut anywhere before the end of the fragment table's index (the last
    // of what a read of .DirIcon needs), the image gives nothing.
    const std::uint64_t needed = runtime + peek(file, runtime + 80, 8) + 8;
    for (std::uint64_t length = runtime; length < needed; length += 7) {
        const IconFile icons =
            openBytes(Data(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
        EXPECT_EQ(icons.count(), 0u) << length;
    }
}

// A type 1 AppImage of AppImage's own tools: Rock Ridge and Joliet names,
// files compressed with zisofs, and .DirIcon a second name of the icon
// beside the desktop file.
TEST_F(AppImageReader, TypeOneOfAppImagesOwnTools) {
    const Data file = readFixture("appimage/type1-appimageextract.AppImage");
    const IconFile icons = openBytes(file);
    ASSERT_EQ(icons.kind(), SourceKind::appimage);
    EXPECT_EQ(iconsOf(icons), (std::vector<std::string>{".DirIcon 48", "AppImageExtract 48"}));
    EXPECT_EQ(icons.group(0).images[0].data.get().data(), icons.group(1).images[0].data.get().data());
    EXPECT_EQ(icons.readFailure(), std::nullopt);
    Data unmarked = file;
    unmarked[10] = std::byte{3};
    EXPECT_EQ(openBytes(unmarked).kind(), SourceKind::elf);
}

// Damage in an ISO 9660 image is the file's error, never a part of its
// icons; without its volume descriptor it is no AppImage.
TEST_F(AppImageReader, TypeOneDamageIsTheFilesError) {
    const Data file =
        appImage({{"a.desktop", textOf(kDesktop)}, {"app.png", pngOf(8)}, {".DirIcon", pngOf(8)}}, 1);
    const std::vector<std::string> whole{".DirIcon 8", "app 8"};
    ASSERT_EQ(iconsOf(openBytes(file)), whole);
    // Walked to its end for an icon it lacks: no icons, and no damage.
    const IconFile lacking =
        openBytes(appImage({{"a.desktop", textOf(kDesktop)}, {"other.png", pngOf(8)}}, 1));
    EXPECT_EQ(lacking.readFailure(), std::nullopt);
    EXPECT_EQ(lacking.count(), 0u);
    Data noDescriptor = file;
    noDescriptor[0x8001] = std::byte{'X'};
    EXPECT_EQ(openBytes(noDescriptor).kind(), SourceKind::none);
    // Unpadded, the image's last block holds a picture's bytes: cut before
    // it, the image lacks them or its tree.
    std::vector<std::size_t> cuts;
    for (std::size_t length = 0x8010; length < file.size() - 2048; length += 1000) cuts.push_back(length);
    // Cut inside that last block: its picture's bytes end early.
    for (const std::size_t kept : {1, 20, 60}) cuts.push_back(file.size() - 2048 + kept);
    for (const std::size_t length : cuts) {
        const IconFile icons =
            openBytes(Data(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
        EXPECT_NE(icons.readFailure(), std::nullopt) << length;
    }
}

// The SVG helper's work in the AppImage module so far, once a read loaded
// the module (the loader gives one table a module).
SvgWork svgWork() {
    void* module = dlopen((moduleFolder() / kAppImageModule).c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(module, nullptr) << "the AppImage module is not loaded";
    const auto entry = module ? reinterpret_cast<const void* (*)()>(dlsym(module, kSvgWorkEntry)) : nullptr;
    SvgWork work;
    if (entry) work = *static_cast<const SvgWork*>(entry());
    if (module) dlclose(module);
    return work;
}

std::string svgOf(const std::string& body, const std::string& size = "width=\"64\" height=\"64\"") {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" " + size +
           ">" + body + "</svg>";
}

// A document whose every level uses the one below ten times: a drawing of
// ten to the ninth shapes.
std::string fanOut() {
    std::string body =
        "<defs><path id=\"l0\" d=\"M0 0 L64 64 L0 64 Z\" fill=\"#f00\" fill-opacity=\"0.01\"/>";
    for (int level = 1; level <= 9; ++level) {
        body += "<g id=\"l" + std::to_string(level) + "\">";
        for (int use = 0; use < 10; ++use)
            body += "<use xlink:href=\"#l" + std::to_string(level - 1) + "\"/>";
        body += "</g>";
    }
    return svgOf(body + "</defs><use xlink:href=\"#l9\"/>");
}

std::string manyPaths(int count) {
    std::string body;
    for (int i = 0; i < count; ++i) {
        const int x = i * 37 % 500, y = i * 91 % 500;
        body += "<path d=\"M" + std::to_string(x) + " " + std::to_string(y) + " L" + std::to_string(500 - y) +
                " " + std::to_string(x) + " L" + std::to_string(y) + " 250 Z\" fill=\"#" +
                std::to_string(100000 + i % 800000) + "\" fill-opacity=\"0.5\"/>";
    }
    return svgOf(body, "width=\"512\" height=\"512\" viewBox=\"0 0 512 512\"");
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// An SVG icon is listed at the theme's sizes from one reading of it, each
// size drawn when it is first read and once; a drawing that fails is not
// tried at another size. The helper's runs are counted, never timed: each
// run is stopped by its limits, the same for every document.
TEST_F(AppImageReader, SvgIconsAreDrawnWhenReadOnceAndNotAgainAfterAFailure) {
    if (!fs::exists(moduleFolder() / kSvgHelper)) GTEST_SKIP() << "this build draws no SVG";
    openBytes(appImage({{".DirIcon", pngOf(8)}}));  // loads the module
    struct Case {
        const char* what;
        std::string svg;
        bool listed;                    // with the theme's eight sizes
        bool drawn;                     // at 256 when asked for
        bool allSizes;                  // drawn at every size within the file's processor time
        const char* failure = nullptr;  // of the file
        const char* stopped = nullptr;  // why a drawing was not made
    } cases[] = {
        {"a plain picture", svgOf("<circle cx=\"32\" cy=\"32\" r=\"20\" fill=\"#3a7\"/>"), true, true, true},
        // About a second a drawing, so the file's time runs out.
        {"20,000 paths", manyPaths(20'000), true, true, false, nullptr, "s of processor time"},
        {"a huge view box",
         svgOf("<circle cx=\"5e29\" cy=\"5e29\" r=\"4e29\" fill=\"#3a7\"/>",
               "width=\"100000000\" height=\"100000000\" viewBox=\"0 0 1e30 1e30\""),
         true, true, true},
        {"a fan-out of uses", fanOut(), true, false, false},
        {"no document librsvg reads", "<svg><g></svg>", false, false, false},
        {"400,000 paths, past the time or memory to read them", manyPaths(400'000), false, false, false,
         "of its SVG pictures"},
    };
    for (const Case& c : cases) {
        // The cases set by the processor time they take mean nothing where
        // a sanitizer makes every step several times slower.
        const std::string_view what = c.what;
        if (kSanitized && (what.find("paths") != std::string_view::npos)) continue;
        const SvgWork before = svgWork();
        const IconFile icons =
            openBytes(appImage({{"a.desktop", textOf(kDesktop)}, {"app.svg", textOf(c.svg)}}));
        const SvgWork listed = svgWork();
        EXPECT_EQ(listed.reads - before.reads, 1u) << c.what;
        EXPECT_EQ(listed.draws, before.draws) << c.what;
        EXPECT_EQ(icons.readFailure().value_or("").find(c.failure ? c.failure : "-") != std::string::npos,
                  c.failure != nullptr)
            << c.what << ": " << icons.readFailure().value_or("");
        if (!c.listed) {
            EXPECT_EQ(icons.count(), 0u) << c.what;
            continue;
        }
        ASSERT_EQ(iconsOf(icons), std::vector<std::string>{"app 16 24 32 48 64 128 256 512"}) << c.what;
        // A thumbnail of 256: that size alone, once, however often asked.
        EXPECT_EQ(icons.icon(0, 256).has_value(), c.drawn) << c.what;
        EXPECT_EQ(icons.icon(0, 256).has_value(), c.drawn) << c.what;
        const SvgWork shown = svgWork();
        EXPECT_EQ(shown.draws - listed.draws, 1u) << c.what;
        EXPECT_EQ(shown.pixelsDrawn - listed.pixelsDrawn, 256u * 256) << c.what;
        // Every size: the seven others once each at most, none after a
        // failure.
        std::size_t decoded = 0;
        for (const IconImage& image : icons.group(0).images) {
            const auto drawn = decodeImage(image);
            if (!drawn) continue;
            ++decoded;
            // A drawing's mask is its alpha, for whatever writes one.
            std::size_t maskedRight = 0;
            for (std::size_t p = 0; p < drawn->pixelCount() && p < drawn->mask.size(); ++p)
                maskedRight += drawn->mask[p] == (drawn->bgra[4 * p + 3] < 128);
            EXPECT_EQ(maskedRight, drawn->pixelCount()) << c.what << " at " << drawn->width;
        }
        const std::uint64_t draws = svgWork().draws - shown.draws;
        if (c.allSizes) {
            EXPECT_EQ(decoded, 8u) << c.what;
        }
        EXPECT_EQ(draws, c.drawn ? decoded - 1 + (decoded < 8) : 0u) << c.what;
        // A drawing that was stopped tells why to whoever asked for it.
        const std::string why = whyNotMade(icons.group(0).images);
        EXPECT_EQ(why.empty(), decoded == 8) << c.what << ": " << why;
        if (c.stopped) {
            EXPECT_NE(why.find(c.stopped), std::string::npos) << c.what << ": " << why;
        }
    }
}

// The files a process has open.
std::size_t openFiles() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// A thumbnailer or an indexer draws icons all day in one process: a hundred
// drawings leave no file of theirs open behind them.
TEST_F(AppImageReader, DrawingsLeaveNothingOpen) {
    if (!fs::exists(moduleFolder() / kSvgHelper)) GTEST_SKIP() << "this build draws no SVG";
    const Data file = appImage(
        {{"a.desktop", textOf(kDesktop)}, {"app.svg", textOf(svgOf("<rect width=\"60\" height=\"9\"/>"))}});
    openBytes(file).icon(0, 16);  // loads the module and the libraries it needs
    const std::size_t before = openFiles();
    const SvgWork start = svgWork();
    for (int round = 0; round < 100; ++round) {
        const IconFile icons = openBytes(file);
        ASSERT_TRUE(icons.icon(0, 48).has_value()) << round;
    }
    EXPECT_EQ(svgWork().draws - start.draws, 100u);
    EXPECT_EQ(openFiles(), before);
}

}  // namespace
}  // namespace pictrove::test
