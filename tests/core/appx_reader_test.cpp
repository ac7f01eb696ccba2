// App packages built here with libzip's writer, so that each member, its
// name, its compression and the manifests are under the test's control.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "icon_source/readers.h"
#include "image/png.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

using Data = std::vector<std::byte>;

struct Member {
    std::string name;
    Data bytes;
    bool stored = false;
};

Data zipOf(const std::vector<Member>& members) {
    zip_error_t error;
    zip_source_t* memory = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(memory);
    zip_t* archive = zip_open_from_source(memory, ZIP_TRUNCATE, &error);
    for (const Member& member : members) {
        zip_source_t* source = zip_source_buffer(archive, member.bytes.data(), member.bytes.size(), 0);
        const zip_int64_t index = zip_file_add(archive, member.name.c_str(), source, ZIP_FL_ENC_RAW);
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 member.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    zip_close(archive);
    zip_stat_t stat;
    zip_source_stat(memory, &stat);
    Data out(stat.size);
    zip_source_open(memory);
    zip_source_read(memory, out.data(), out.size());
    zip_source_close(memory);
    zip_source_free(memory);
    return out;
}

std::string manifest(const std::string& logo, const std::string& visual) {
    return "<?xml version=\"1.0\"?><Package "
           "xmlns=\"http://schemas.microsoft.com/appx/manifest/foundation/windows10\" "
           "xmlns:uap=\"http://schemas.microsoft.com/appx/manifest/uap/windows10\"><Properties><Logo>" +
           logo + "</Logo></Properties><Applications><Application Id=\"A\">" + visual +
           "</Application></Applications></Package>";
}

// An icon image as an .ico stores it (a 32-bit bitmap and its mask), which
// parses as a picture but is no PNG.
Data dibOf(std::uint32_t side) {
    Data dib(40 + side * side * 4 + side * ((side + 31) / 32 * 4));
    poke(dib, 0, 4, 40);
    poke(dib, 4, 4, side);
    poke(dib, 8, 4, side * 2);
    poke(dib, 12, 2, 1);
    poke(dib, 14, 2, 32);
    return dib;
}

// Per icon, its name and its images' widths.
TEST(AppxReader, EveryVariantOfEachLogoTheManifestNames) {
    const std::string visual =
        "<uap:VisualElements Square150x150Logo=\"Images\\Tile.png\" Square44x44Logo=\"Assets\\Small.png\" "
        "BackgroundColor=\"red\"><uap:DefaultTile Wide310x150Logo=\"Assets\\Missing.png\" "
        "Square71x71Logo=\"Assets\\My Logo.png\"/></uap:VisualElements>";
    const std::vector<Member> members{
        {"AppxManifest.xml", textOf(manifest("Assets\\StoreLogo.png", visual))},
        {"Assets/StoreLogo.png", pngOf(50)},
        {"Assets/STORELOGO.scale-200.png", pngOf(100)},
        {"Assets/StoreLogoOld.png", pngOf(51)},
        {"Assets/StoreLogo.png.bak", pngOf(52)},
        {"Assets/StoreLogo.old.png", pngOf(53)},
        {"Other/StoreLogo.png", pngOf(54)},
        {"Assets/plain/StoreLogo.png", pngOf(55)},
        {"Assets/contrast-high/StoreLogo.scale-400.png", pngOf(200)},
        {"Assets/a-1/b-2/c-3/d-4/StoreLogo.png", pngOf(201)},      // qualifier folders four deep
        {"Assets/a-1/b-2/c-3/d-4/e-5/StoreLogo.png", pngOf(202)},  // five: too deep
        {"Assets/StoreLogo.scale-150.png", textOf("not a picture")},
        {"Assets/StoreLogo.scale-125.png", dibOf(16)},  // a picture, but no PNG
        {"Images/scale-200/Tile.png", pngOf(300)},
        {"Assets/Small.targetsize-48_altform-unplated.png", pngOf(48)},
        {"Assets/My%20Logo.scale-100.png", pngOf(71)},
    };
    const IconFile file = openBytes(zipOf(members));
    ASSERT_EQ(file.kind(), SourceKind::appx);
    EXPECT_EQ(iconsOf(file),
              (std::vector<std::string>{"Assets\\StoreLogo.png 50 100 200 201", "Images\\Tile.png 300",
                                        "Assets\\Small.png 48", "Assets\\My Logo.png 71"}));
    // The first icons only, for a thumbnail.
    EXPECT_EQ(iconsOf(IconFile::fromFile(readWhereAsked(zipOf(members)), GroupKind::icons, 1)),
              std::vector<std::string>{"Assets\\StoreLogo.png 50 100 200 201"});
}

// A logo named without an extension is a PNG, its variants named as any
// other's. One given through an entity of the manifest's own document type,
// which the reader leaves unexpanded, names no member.
TEST(AppxReader, LogosNamedWithoutAnExtension) {
    const std::string entity =
        "<?xml version=\"1.0\"?><!DOCTYPE Package [<!ENTITY logo \"Assets\\Logo\">]>"
        "<Package><Properties><Logo>&logo;</Logo></Properties><Applications><Application>"
        "<VisualElements Square44x44Logo=\"Assets\\Small\" Square150x150Logo=\"&logo;\"/>"
        "</Application></Applications></Package>";
    struct Case {
        const char* what;
        std::string manifest;
        std::vector<std::string> icons;
    } cases[] = {
        {"qualified variants with the implied extension",
         manifest("Assets\\StoreLogo", "<VisualElements Square44x44Logo=\"Assets\\Small.png\"/>"),
         {"Assets\\StoreLogo 50 100 48", "Assets\\Small.png 44"}},
        {"beside the same logo with its extension",
         manifest("Assets\\StoreLogo", "<VisualElements Square44x44Logo=\"Assets\\StoreLogo.png\"/>"),
         {"Assets\\StoreLogo 50 100 48"}},
        {"a folder and no file name", manifest("Assets\\", ""), {}},
        {"entities", entity, {"Assets\\Small 44"}},
    };
    const std::vector<Member> members{
        {"Assets/StoreLogo.png", pngOf(50)},
        {"Assets/StoreLogo.scale-200.png", pngOf(100)},
        {"Assets/StoreLogo.targetsize-48.png", pngOf(48)},
        {"Assets/StoreLogo", pngOf(20)},
        {"Assets/Small.png", pngOf(44)},
        {"Assets/.png", pngOf(10)},
    };
    for (const Case& c : cases) {
        std::vector<Member> all{{"AppxManifest.xml", textOf(c.manifest)}};
        all.insert(all.end(), members.begin(), members.end());
        EXPECT_EQ(iconsOf(openBytes(zipOf(all))), c.icons) << c.what;
    }
}

TEST(AppxReader, ABundleIsReadThroughItsStoredApplicationPackage) {
    const Data package =
        zipOf({{"AppxManifest.xml", textOf(manifest("Logo.png", ""))}, {"Logo.png", pngOf(16)}});
    const auto bundle = [&](bool stored, std::uint64_t offset, std::uint64_t size) {
        const std::string xml =
            "<Bundle xmlns=\"http://schemas.microsoft.com/appx/2013/bundle\"><Packages>"
            "<Package Type=\"resource\" FileName=\"Res.msix\" Offset=\"0\" Size=\"1\"/>"
            "<Package Type=\"application\" FileName=\"App.msix\" Offset=\"" +
            std::to_string(offset) + "\" Size=\"" + std::to_string(size) + "\"/></Packages></Bundle>";
        return zipOf({{"App.msix", package, stored}, {"AppxMetadata/AppxBundleManifest.xml", textOf(xml)}});
    };
    const std::uint64_t offset = 30 + std::strlen("App.msix");  // behind the first local header
    struct Case {
        const char* what;
        Data file;
        std::size_t icons;
    } cases[] = {
        {"stored", bundle(true, offset, package.size()), 1},
        {"compressed", bundle(false, offset, package.size()), 0},
        {"an offset past the package's start", bundle(true, offset + 1, package.size()), 0},
        {"a size other than the member's", bundle(true, offset, package.size() - 1), 0},
        {"a size past the end", bundle(true, offset, UINT64_MAX), 0},
    };
    for (Case& c : cases) {
        const IconFile file = openBytes(c.file);
        EXPECT_EQ(file.kind(), SourceKind::appx) << c.what;
        EXPECT_EQ(file.count(), c.icons) << c.what;
    }
}

// Where a member's data begins in a zip, behind its local header.
std::uint64_t dataOffset(const Data& zip, const std::string& name) {
    for (std::size_t at = 0; at + 30 + name.size() <= zip.size(); ++at) {
        if (peek(zip, at, 4) == 0x04034B50 &&
            std::memcmp(zip.data() + at + 30, name.data(), name.size()) == 0)
            return at + 30 + name.size() + peek(zip, at + 28, 2);
    }
    return 0;
}

// A bundle of `packages` (name, package, stored) named by its manifest in the
// order of `listed` (type, file name), each where its member lies or, for
// "name@other", where the data of the member `other` (at any depth) does.
Data bundleOf(const std::vector<Member>& packages,
              const std::vector<std::pair<std::string, std::string>>& listed) {
    const auto withManifest = [&](const std::string& xml) {
        std::vector<Member> members = packages;
        members.push_back({"AppxMetadata/AppxBundleManifest.xml", textOf(xml)});
        return zipOf(members);
    };
    const Data first =
        withManifest("<Bundle/>");  // the packages lie where they will: the manifest comes last
    std::string xml = "<Bundle xmlns=\"http://schemas.microsoft.com/appx/2013/bundle\"><Packages>";
    for (const auto& [type, name] : listed) {
        const auto at = name.find('@');
        const std::string fileName = name.substr(0, at);
        const std::string place = at == std::string::npos ? name : name.substr(at + 1);
        const auto member = std::find_if(packages.begin(), packages.end(),
                                         [&](const Member& each) { return each.name == fileName; });
        const std::size_t size = member == packages.end() ? 0 : member->bytes.size();
        xml += "<Package Type=\"" + type + "\" FileName=\"" + fileName + "\" Offset=\"" +
               std::to_string(dataOffset(first, place)) + "\" Size=\"" + std::to_string(size) + "\"/>";
    }
    return withManifest(xml + "</Packages></Bundle>");
}

TEST(AppxReader, ResourcePackagesOfABundleJoinTheApplicationsIcons) {
    const Data app = zipOf({{"AppxManifest.xml", textOf(manifest("Logo.png", ""))},
                            {"Logo.scale-100.png", pngOf(16)},
                            {"Logo.scale-200.png", pngOf(20)}});
    const Data scale200 = zipOf({{"AppxManifest.xml", textOf("<Package/>")},
                                 {"Logo.scale-200.png", pngOf(32)},  // the application package's is taken
                                 {"Logo.scale-400.png", pngOf(64)},
                                 {"Other.png", pngOf(24)}});
    // A package holding a package stored in it, of the same length as one
    // the bundle holds.
    const Data inner = zipOf({{"Logo.scale-300.png", pngOf(48)}});
    const Data holding = zipOf({{"AppxManifest.xml", textOf(manifest("Logo.png", ""))},
                                {"Logo.scale-100.png", pngOf(16)},
                                {"Inner.zip", inner, true}});
    const Data folders = zipOf({{"scale-150/Logo.png", pngOf(24)}});
    struct Case {
        const char* what;
        std::vector<Member> packages;
        std::vector<std::pair<std::string, std::string>> listed;
        std::string icons;
    } cases[] = {
        {"stored resource packages, one listed first",
         {{"App.msix", app, true}, {"Res.msix", scale200, true}, {"Res2.msix", folders, true}},
         {{"resource", "Res.msix"}, {"application", "App.msix"}, {"Resource", "Res2.msix"}},
         "Logo.png 16 20 64 24"},
        {"a compressed one is left out",
         {{"App.msix", app, true}, {"Res.msix", scale200, false}, {"Res2.msix", folders, true}},
         {{"application", "App.msix"}, {"resource", "Res.msix"}, {"resource", "Res2.msix"}},
         "Logo.png 16 20 24"},
        {"one inside the application package is left out",
         {{"App.msix", holding, true}, {"Res.msix", inner, true}},
         {{"application", "App.msix"}, {"resource", "Res.msix@Inner.zip"}},
         "Logo.png 16"},
        {"even when listed before the application package",
         {{"App.msix", holding, true}, {"Res.msix", inner, true}},
         {{"resource", "Res.msix@Inner.zip"}, {"application", "App.msix"}},
         "Logo.png 16"},
        {"one not in the bundle is left out",
         {{"App.msix", app, true}},
         {{"application", "App.msix"}, {"resource", "Gone.msix@App.msix"}},
         "Logo.png 16 20"},
        {"a second application package is no resource",
         {{"App.msix", app, true}, {"Res.msix", scale200, true}},
         {{"application", "App.msix"}, {"application", "Res.msix"}},
         "Logo.png 16 20"},
        {"resources without an application package",
         {{"Res.msix", scale200, true}},
         {{"resource", "Res.msix"}},
         ""},
    };
    for (Case& c : cases) {
        const IconFile file = openBytes(bundleOf(c.packages, c.listed));
        EXPECT_EQ(iconsOf(file),
                  c.icons.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.icons})
            << c.what;
    }
}

TEST(AppxReader, ABundleReadsNoMorePackagesThanItsLimit) {
    std::vector<Member> packages{
        {"App.msix", zipOf({{"AppxManifest.xml", textOf(manifest("Logo.png", ""))}}), true}};
    std::vector<std::pair<std::string, std::string>> listed;
    for (std::size_t i = 0; i <= limits::kMaxBundlePackages; ++i) {
        const std::string name = "R" + std::to_string(i) + ".msix";
        packages.push_back({name, zipOf({{"Logo.scale-" + std::to_string(i) + ".png", pngOf(16)}}), true});
        listed.emplace_back("resource", name);
    }
    listed.emplace_back("application", "App.msix");  // named last, still taken
    const IconFile file = openBytes(bundleOf(packages, listed));
    ASSERT_EQ(file.count(), 1u);
    EXPECT_EQ(file.group(0).images.size(), limits::kMaxBundlePackages - 1);
}

// Sets the size a member's local and central headers claim.
void claimSize(Data& zip, const std::string& name, std::uint32_t size) {
    for (std::size_t at = 0; at + 46 + name.size() <= zip.size(); ++at) {
        const bool local = peek(zip, at, 4) == 0x04034B50 &&
                           std::memcmp(zip.data() + at + 30, name.data(), name.size()) == 0;
        const bool central = peek(zip, at, 4) == 0x02014B50 &&
                             std::memcmp(zip.data() + at + 46, name.data(), name.size()) == 0;
        if (local) poke(zip, at + 22, 4, size);
        if (central) poke(zip, at + 24, 4, size);
    }
}

TEST(AppxReader, LimitsLeaveOutWhatPassesThem) {
    const Data manifestText = textOf(manifest("Logo.png", ""));
    Data bomb = zipOf(
        {{"AppxManifest.xml", manifestText}, {"Logo.png", pngOf(16)}, {"Logo.scale-200.png", pngOf(32)}});
    claimSize(bomb, "Logo.scale-200.png", 100);
    EXPECT_EQ(iconsOf(openBytes(bomb)), std::vector<std::string>{"Logo.png 16"});

    // A manifest too large to be read is an error, never a package without icons.
    Data big(limits::kMaxManifestBytes + 1, std::byte{' '});
    std::memcpy(big.data(), manifestText.data(), manifestText.size());
    const IconFile tooBig = openBytes(zipOf({{"AppxManifest.xml", big}, {"Logo.png", pngOf(16)}}));
    EXPECT_EQ(tooBig.count(), 0u);
    EXPECT_NE(tooBig.readFailure().value_or("").find("larger than the 4 MiB"), std::string::npos);

    const MappedFile package = readWhereAsked(zipOf(
        {{"AppxManifest.xml", manifestText}, {"Logo.png", pngOf(16)}, {"Logo.scale-400.png", pngOf(64)}}));
    // Past what may be kept, the file gives an error, not an icon short of
    // a picture.
    MadeBytes little(pngOf(16).size());
    EXPECT_TRUE(readAppxIcons(FileView(package), little));
    EXPECT_TRUE(little.failure());
}

// A zip whose central directory names the data of `name` again under
// `copies` more names: the copies' names are `name` with its last three
// characters before ".png" counting up from "101".
Data withSharedEntries(const Data& zip, const std::string& name, int copies) {
    const std::size_t end = zip.size() - 22;  // no comment
    const std::uint64_t entries = peek(zip, end + 10, 2), cdSize = peek(zip, end + 12, 4),
                        cdOffset = peek(zip, end + 16, 4);
    std::size_t at = cdOffset;
    while (std::memcmp(zip.data() + at + 46, name.data(), name.size()) != 0)
        at += 46 + peek(zip, at + 28, 2) + peek(zip, at + 30, 2) + peek(zip, at + 32, 2);
    const Data entry(zip.begin() + static_cast<std::ptrdiff_t>(at),
                     zip.begin() + static_cast<std::ptrdiff_t>(at + 46 + name.size()));
    Data out(zip.begin(), zip.begin() + static_cast<std::ptrdiff_t>(cdOffset + cdSize));
    for (int i = 1; i <= copies; ++i) {
        Data copy = entry;
        poke(copy, 30, 2, 0);  // no extra field
        poke(copy, 32, 2, 0);  // no comment
        const std::string number = std::to_string(100 + i);
        std::memcpy(copy.data() + 46 + name.size() - 7, number.data(), 3);
        out.insert(out.end(), copy.begin(), copy.end());
    }
    Data eocd(zip.begin() + static_cast<std::ptrdiff_t>(end), zip.end());
    poke(eocd, 8, 2, entries + static_cast<std::uint64_t>(copies));
    poke(eocd, 10, 2, entries + static_cast<std::uint64_t>(copies));
    poke(eocd, 12, 4, out.size() - cdOffset);
    out.insert(out.end(), eocd.begin(), eocd.end());
    return out;
}

// A PNG's signature and header, then `length` zero bytes: it deflates to a
// thousandth of its size.
Data pngHeadThenZeros(std::size_t length) {
    Data bytes = pngOf(16);
    bytes.resize(33);
    bytes.resize(33 + length);
    return bytes;
}

// Packages whose members inflate to far more than the package's size: what
// is inflated is counted, a member no logo needs is left after its first
// bytes, and a limit passed is the file's error.
TEST(AppxReader, WhatIsInflatedIsBoundedByThePackagesSize) {
    const Data manifestText = textOf(manifest("Logo.png", ""));
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const auto package = [&](const Data& variant, int count) {
        std::vector<Member> members{{"AppxManifest.xml", manifestText}};
        for (int i = 0; i < count; ++i)
            members.push_back({"Logo.scale-" + std::to_string(100 + i) + ".png", variant});
        return zipOf(members);
    };
    const Data one = zipOf({{"AppxManifest.xml", manifestText},
                            {"Logo.scale-100.png", pngHeadThenZeros(8 * kMiB)},
                            {"Logo.scale-200.png", pngOf(32)}});
    const Data pngs = package(pngHeadThenZeros(16 * kMiB), 6);
    struct Case {
        const char* what;
        Data file;
        std::uint64_t madeLimit;
        const char* failure;  // a part of it; null for none
        std::uint64_t mostTakenOut;
    } cases[] = {
        // Ten names for one member's bytes, the first taken whole.
        {"members sharing their bytes", withSharedEntries(one, "Logo.scale-100.png", 9),
         limits::kMaxMadeBytes, "share their bytes", 8 * kMiB + 64 * 1024},
        {"variants that are no PNG", package(Data(4 * kMiB), 10), limits::kMaxMadeBytes, nullptr,
         manifestText.size() + 10 * 33},
        // Past the budget by at most one piece inflated.
        {"PNG variants past the inflation budget", pngs, limits::kMaxMadeBytes, "inflate to more",
         limits::kInflatedFloor + 4 * pngs.size() + 64 * 1024},
        {"PNG variants past what may be kept", pngs, 40 * kMiB, "take more bytes",
         manifestText.size() + 2 * (16 * kMiB + 33) + 33},
    };
    for (const Case& c : cases) {
        const MappedFile file = readWhereAsked(c.file);
        MadeBytes made(c.madeLimit);
        readAppxIcons(FileView(file), made);
        EXPECT_EQ(made.failure().has_value(), c.failure != nullptr) << c.what;
        if (c.failure && made.failure()) {
            EXPECT_NE(made.failure()->find(c.failure), std::string::npos)
                << c.what << ": " << *made.failure();
        }
        EXPECT_LE(made.takenOut(), c.mostTakenOut) << c.what;
        EXPECT_LE(c.file.size(), 100u * 1024) << c.what;
    }
    // A member that is a variant of two logos is inflated once.
    const Data twice = zipOf({{"AppxManifest.xml", textOf(manifest("Logo.png",
                                                                   "<VisualElements "
                                                                   "Square44x44Logo=\"Logo.scale-200."
                                                                   "png\"/>"))},
                              {"Logo.scale-200.png", pngOf(32)}});
    const IconFile icons = openBytes(twice);
    EXPECT_EQ(iconsOf(icons), (std::vector<std::string>{"Logo.png 32", "Logo.scale-200.png 32"}));
    EXPECT_FALSE(icons.readFailure());
}

TEST(AppxReader, OtherArchivesAreNoIconSource) {
    for (const Data& file :
         {zipOf({{"readme.txt", textOf("hello")}}), zipOf({{"AppxManifest.xml", textOf("<Package")}}),
          Data{std::byte{'P'}, std::byte{'K'}, std::byte{3}, std::byte{4}}}) {
        const IconFile icons = openBytes(file);
        EXPECT_EQ(icons.count(), 0u);
    }
    EXPECT_EQ(openBytes(zipOf({{"readme.txt", textOf("hello")}})).kind(), SourceKind::none);
    // A package whose manifest is no XML is a damaged package.
    const IconFile damaged = openBytes(zipOf({{"AppxManifest.xml", textOf("<Package")}}));
    EXPECT_EQ(damaged.kind(), SourceKind::appx);
    EXPECT_NE(damaged.readFailure().value_or("").find("no XML document"), std::string::npos);
}

}  // namespace
}  // namespace pictrove::test
