// AppImages made here by mksquashfs from folders the test lays out, behind a
// copy of a real ELF program marked as an AppImage runtime.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "icon_source/readers.h"
#include "image/png.h"
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
};

class AppImageReader : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v mksquashfs >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "mksquashfs is missing";
        work_ = fs::temp_directory_path() /
                ("pictrove-appimage-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(work_);
        fs::create_directories(work_);
    }
    void TearDown() override { fs::remove_all(work_); }

    // The AppImage of a folder of `entries`.
    Data appImage(const std::vector<Entry>& entries) {
        const fs::path folder = work_ / "folder";
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const Entry& entry : entries) {
            if (entry.linkTo.empty()) {
                writeFile(folder / entry.path, entry.bytes);
            } else {
                fs::create_directories((folder / entry.path).parent_path());
                fs::create_symlink(entry.linkTo, folder / entry.path);
            }
        }
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
    const Data file = appImage({
        {"app.desktop", textOf("[Desktop Action New]\nIcon=other\n" + kDesktop)},
        {"app.png", pngOf(64)},
        {".DirIcon", {}, "app.png"},
        {"usr/share/icons/hicolor/16x16/apps/app.png", pngOf(16)},
        {"usr/share/icons/hicolor/64x64/apps/app.png", {}, "../../../../../../app.png"},  // once in the icon
        {"usr/share/icons/hicolor/256x256/apps/app.png", pngOf(256)},
        {"usr/share/icons/hicolor/32x32/apps/other.png", pngOf(32)},
    });
    const IconFile icons = IconFile::fromFile(readWhereAsked(file));
    ASSERT_EQ(icons.kind(), SourceKind::appimage);
    EXPECT_EQ(iconsOf(icons), (std::vector<std::string>{".DirIcon 64", "app 64 16 256"}));
    // The picture both names lead to is read once: both icons hold the same bytes.
    EXPECT_EQ(icons.group(0).images[0].data.get().data(), icons.group(1).images[0].data.get().data());
    EXPECT_EQ(iconsOf(IconFile::fromFile(readWhereAsked(file), GroupKind::icons, 1)),
              std::vector<std::string>{".DirIcon 64"});
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
    };
    for (const Case& c : cases) {
        const IconFile icons = openBytes(appImage(c.entries));
        EXPECT_EQ(icons.kind(), SourceKind::appimage) << c.what;
        EXPECT_EQ(iconsOf(icons), c.icons) << c.what;
    }
    // Sixteen hops are followed, the seventeenth is not.
    for (const std::size_t hops : {std::size_t{16}, std::size_t{17}}) {
        std::vector<Entry> chain{{".DirIcon", {}, "l1"}};
        for (std::size_t i = 1; i < hops; ++i)
            chain.push_back({"l" + std::to_string(i), {}, "l" + std::to_string(i + 1)});
        chain.push_back({"l" + std::to_string(hops), pngOf(8)});
        EXPECT_EQ(openBytes(appImage(chain)).count(), hops <= limits::kMaxLinkHops ? 1u : 0u) << hops;
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
    for (const Case& c : cases) {
        const IconFile icons =
            openBytes(appImage({{"a.desktop", textOf(c.desktop)}, {"app.png", pngOf(48)}}));
        EXPECT_EQ(iconsOf(icons), c.icons) << c.what;
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

}  // namespace
}  // namespace pictrove::test
