// Every cap that protects the readers from hostile files lives here, so the
// whole set can be reviewed at a glance.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictrove::limits {

// Largest side of an icon image we decode. Real icons stop at 256; the
// headroom keeps odd-but-honest files working while bounding allocations.
inline constexpr std::uint32_t kMaxImageSide = 1024;

// Largest number of pixels in one decoded image (kMaxImageSide squared).
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{kMaxImageSide} * kMaxImageSide;

// Most groups one file may deliver. Far beyond any real library (shell32 has
// a few hundred) and still cheap to hold.
inline constexpr std::size_t kMaxIconGroups = 65535;

// Most images one file may deliver over all its groups. Executables let many
// groups share one group directory, so the group cap alone would let a small
// file describe billions of images.
inline constexpr std::size_t kMaxImagesPerFile = std::size_t{1} << 20;

// Resource tree of a PE file: type, name, language. Deeper nesting is damage.
inline constexpr int kMaxResourceDepth = 3;

// Most directory entries we look at in one PE resource directory.
inline constexpr std::size_t kMaxDirectoryEntries = 65535;

// Most sections read from a PE section table (the format itself caps at 96
// for the loader; we allow more but never an unbounded walk).
inline constexpr std::size_t kMaxSections = 1024;

// Largest icon or cursor file rebuilt from one group. Real groups stay below
// a few megabytes; a group naming one big image thousands of times would
// otherwise ask for gigabytes.
inline constexpr std::uint64_t kMaxGroupFileSize = std::uint64_t{256} << 20;

// The part of a file that is ever read: an executable's offsets are 32-bit,
// so nothing past 4 GiB is of use (1 GiB where addresses are 32-bit). Memory
// is taken only for the parts read.
inline constexpr std::uint64_t kMaxFileView =
    sizeof(std::size_t) > 4 ? std::uint64_t{1} << 32 : std::uint64_t{1} << 30;

// Icon sources up to this size are read whole once they are known to be
// one: one read costs less than working out which parts are needed. Larger
// ones are read in the parts their reader walks, a walk's block at a time:
// most libraries of a few hundred kilobytes hold no icons, or a few near
// their end, and reading them through copied more bytes than listing,
// scanning or thumbnailing them needed.
inline constexpr std::uint64_t kReadWholeUpTo = 64 * 1024;

// Most RIFF chunks walked in an ANI file before giving up.
inline constexpr std::size_t kMaxRiffChunks = 4096;

// Most members walked in a macOS icon file (a real one has a dozen or two).
inline constexpr std::size_t kMaxIcnsMembers = 4096;

// Most bytes the readers of one file may make rather than find in it
// (pictures converted to bitmaps, members taken out of archives); each
// file's own share is smaller still, in proportion to its size.
inline constexpr std::uint64_t kMaxMadeBytes = std::uint64_t{256} << 20;

// Windows Installer databases: the largest table stream read (the Icon and
// Property tables; real ones hold a few hundred rows), the largest string
// pool (four bytes a string), and the longest icon name looked at.
inline constexpr std::uint64_t kMaxMsiTableBytes = std::uint64_t{8} << 20;
inline constexpr std::uint64_t kMaxMsiStringPool = std::uint64_t{8} << 20;
inline constexpr std::size_t kMaxMsiNameLength = 1024;

// The largest member of a package taken out whole: an installer's icon
// stream, a logo in an app package, an icon in an AppImage.
inline constexpr std::uint64_t kMaxPackageMember = std::uint64_t{64} << 20;

// What the members of one app package (with a bundle's packages) may
// inflate to, kept or not: kInflatedFloor, and kInflatedPerByte bytes for
// each byte of the file, at most kMaxInflatedBytes. A real package inflates to
// about its own size or less: its logos are PNGs, which deflate no
// further, its manifest a few kilobytes (4 MiB at most, which the floor
// holds even for a small package), and a member that is no logo is left
// after its first 33 bytes. The most is what may be kept (kMaxMadeBytes)
// and the floor again.
inline constexpr std::uint64_t kInflatedFloor = std::uint64_t{64} << 20;
inline constexpr std::uint64_t kInflatedPerByte = 4;
inline constexpr std::uint64_t kMaxInflatedBytes = kMaxMadeBytes + kInflatedFloor;

// App packages: the most members an archive may list, and the largest
// manifest read (real ones take a few kilobytes).
inline constexpr std::uint64_t kMaxPackageEntries = std::uint64_t{1} << 20;
inline constexpr std::uint64_t kMaxManifestBytes = std::uint64_t{4} << 20;
// The most packages of a bundle read (real ones hold one or a few application
// packages and up to some dozens of resource packages).
inline constexpr std::size_t kMaxBundlePackages = 256;

// AppImages: the most links followed from one name (a cycle ends there),
// and the largest .desktop file read.
inline constexpr std::size_t kMaxLinkHops = 16;
inline constexpr std::uint64_t kMaxDesktopFileBytes = 64 * 1024;

}  // namespace pictrove::limits
