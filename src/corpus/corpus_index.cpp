#include "corpus/corpus_index.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "corpus/record_reader.h"
#include "fingerprint/dhash.h"

// The file, every number little-endian, each part after the header starting
// on a multiple of 8:
//
//   header      magic, version, bucket bits, the counts below, flags
//   dirA        2^bits + 1 positions: where each bucket of table A begins
//   keysA       per entry, the low 48 bits of its hash; the entries sorted on
//               the hash (then record, then index), which is the order every
//               other per-entry part follows. A bucket is the top `bits`
//               bits of the hash, so the top 16 come from the bucket.
//   topA        65537 positions: where each value of the top 16 bits begins,
//               to find the top of an entry reached from table B
//   dirB        2^bits + 1 positions into table B, bucketed on the top bits
//               of the hash's low half
//   keysB       per entry of B, the low 16 bits of the hash
//   linkB       per entry of B, its position in A
//   owner       per entry, its record, bit 31 set for a main icon and bit 30
//               for an icon compared when every icon is asked for
//   numbered    (entry, icon index) for the entries whose index is not 0
//   groupHash   the group hashes, 32 bytes each, sorted
//   groupStart  groups + 1 positions into groupList
//   groupList   the entries of each group
//   nameEnd     per record, where its name ends in names
//   names       the file names, one after another
//
// So a search costs 16 bytes an entry (keysA, keysB, linkB, owner), the
// groups 4 bytes an entry and 36 a group hash, and the names 8 bytes a
// record and the names themselves.

namespace pictrove::corpus {
namespace {

constexpr char kMagic[8] = {'P', 'T', 'R', 'V', 'I', 'D', 'X', '\n'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint64_t kHeaderSize = 72;
constexpr std::uint64_t kKeepsGroups = 1;  // a header flag: the group hashes are in
constexpr std::uint32_t kMinBits = 16;
constexpr std::uint32_t kMaxBits = 26;
constexpr std::uint64_t kTopSlots = (1u << 16) + 1;
constexpr std::uint32_t kMainFlag = 1u << 31;
constexpr std::uint32_t kAllFlag = 1u << 30;
constexpr std::uint32_t kRecordMask = kAllFlag - 1;
constexpr std::uint64_t kMaxEntries = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxNameBytes = std::uint64_t{1} << 48;
constexpr std::uint64_t kLow48 = (std::uint64_t{1} << 48) - 1;

template <class T>
T load(const std::byte* at, std::size_t bytes = sizeof(T)) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value |= std::uint64_t(std::to_integer<std::uint8_t>(at[i])) << (8 * i);
    return static_cast<T>(value);
}

void store(std::byte* at, std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) at[i] = static_cast<std::byte>(value >> (8 * i));
}

std::uint64_t rotated(std::uint64_t hash) {
    return hash << 32 | hash >> 32;
}

struct Counts {
    std::uint32_t bits = kMinBits;
    std::uint64_t flags = 0;
    std::uint64_t entries = 0, records = 0, groups = 0, grouped = 0, numbered = 0, nameBytes = 0;
};

struct Layout {
    std::uint64_t dirA, keysA, topA, dirB, keysB, linkB, owner, numbered, groupHash, groupStart, groupList,
        nameEnd, names, size;
};

// Where each part lies; nothing for counts no index may have, which also
// keeps every product below in range.
std::optional<Layout> layoutOf(const Counts& c) {
    if (c.bits < kMinBits || c.bits > kMaxBits || c.entries > kMaxEntries || c.records > kRecordMask ||
        c.groups > c.entries || c.grouped > c.entries || c.numbered > c.entries ||
        c.nameBytes > kMaxNameBytes)
        return std::nullopt;
    const std::uint64_t buckets = (std::uint64_t{1} << c.bits) + 1;
    Layout at{};
    std::uint64_t end = kHeaderSize;
    const auto part = [&](std::uint64_t& offset, std::uint64_t bytes) {
        offset = end;
        end = (end + bytes + 7) / 8 * 8;
    };
    part(at.dirA, 4 * buckets);
    part(at.keysA, 6 * c.entries);
    part(at.topA, 4 * kTopSlots);
    part(at.dirB, 4 * buckets);
    part(at.keysB, 2 * c.entries);
    part(at.linkB, 4 * c.entries);
    part(at.owner, 4 * c.entries);
    part(at.numbered, 8 * c.numbered);
    part(at.groupHash, 32 * c.groups);
    part(at.groupStart, 4 * (c.groups + 1));
    part(at.groupList, 4 * c.grouped);
    part(at.nameEnd, 8 * c.records);
    part(at.names, c.nameBytes);
    at.size = end;
    return at;
}

std::string hexText(const std::byte* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = std::to_integer<std::uint8_t>(bytes[i]);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

// The patterns of `bits` bits that differ from `center` in at most `most`
// of them, each once; `visit` returns false to stop.
bool forEachNear(std::uint64_t center, std::uint32_t bits, int most,
                 const std::function<bool(std::uint64_t)>& visit) {
    const auto walk = [&](auto& self, std::uint64_t value, std::uint32_t from, int left) -> bool {
        if (!visit(value)) return false;
        if (left == 0) return true;
        for (std::uint32_t bit = from; bit < bits; ++bit)
            if (!self(self, value ^ (std::uint64_t{1} << bit), bit + 1, left - 1)) return false;
        return true;
    };
    return most < 0 || walk(walk, center, 0, most);
}

// How many patterns forEachNear visits, up to `cap`.
std::uint64_t nearCount(std::uint32_t bits, int most, std::uint64_t cap) {
    std::uint64_t total = 0, term = 1;
    for (int k = 0; k <= most && k <= static_cast<int>(bits); ++k) {
        if (k > 0) term = term * (bits - k + 1) / k;
        total += term;
        if (total >= cap) return cap;
    }
    return total;
}

}  // namespace

// The index's bytes, mapped from its file or held in memory, and the places
// of its parts. Every position read from the bytes is checked before use.
class CorpusIndex::Image {
public:
    Image(const std::byte* data, std::size_t size, std::vector<std::byte> held, void* mapping)
        : data_(data), size_(size), held_(std::move(held)), mapping_(mapping) {}
    ~Image() {
#ifdef _WIN32
        if (mapping_) UnmapViewOfFile(mapping_);
#else
        if (mapping_) munmap(mapping_, size_);
#endif
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // An error message when the bytes are no index of this version.
    std::optional<std::string> check() {
        if (size_ < kHeaderSize || std::memcmp(data_, kMagic, sizeof kMagic) != 0) return "is not an index";
        if (load<std::uint32_t>(data_ + 8) != kVersion)
            return "is an index of another version (" + std::to_string(load<std::uint32_t>(data_ + 8)) +
                   "); build it again";
        counts_.bits = load<std::uint32_t>(data_ + 12);
        counts_.entries = load<std::uint64_t>(data_ + 16);
        counts_.records = load<std::uint64_t>(data_ + 24);
        counts_.groups = load<std::uint64_t>(data_ + 32);
        counts_.grouped = load<std::uint64_t>(data_ + 40);
        counts_.numbered = load<std::uint64_t>(data_ + 48);
        counts_.nameBytes = load<std::uint64_t>(data_ + 56);
        counts_.flags = load<std::uint64_t>(data_ + 64);
        const auto layout = layoutOf(counts_);
        if (!layout || layout->size != size_) return "is damaged (its size does not match its counts)";
        at_ = *layout;
        return std::nullopt;
    }

    const Counts& counts() const {
        return counts_;
    }
    const Layout& at() const {
        return at_;
    }
    std::uint32_t u32(std::uint64_t offset, std::uint64_t n) const {
        return load<std::uint32_t>(data_ + offset + 4 * n);
    }
    std::uint64_t u64(std::uint64_t offset, std::uint64_t n) const {
        return load<std::uint64_t>(data_ + offset + 8 * n);
    }
    const std::byte* bytes(std::uint64_t offset) const {
        return data_ + offset;
    }

    // [begin, end) of a bucket of table A or B, checked.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> bucket(std::uint64_t dir, std::uint64_t b) const {
        const std::uint64_t begin = u32(dir, b), end = u32(dir, b + 1);
        if (begin > end || end > counts_.entries) return std::nullopt;
        return std::pair{begin, end};
    }

    std::uint64_t hashA(std::uint64_t position, std::uint64_t top16) const {
        return top16 << 48 | load<std::uint64_t>(data_ + at_.keysA + 6 * position, 6);
    }

    // The top 16 bits of entry `position`'s hash, found in topA.
    std::optional<std::uint64_t> top16(std::uint64_t position) const {
        std::uint64_t low = 0, high = kTopSlots - 1;  // topA[low] <= position < topA[high]
        if (u32(at_.topA, 0) != 0 || u32(at_.topA, high) != counts_.entries) return std::nullopt;
        while (high - low > 1) {
            const std::uint64_t middle = (low + high) / 2;
            (u32(at_.topA, middle) <= position ? low : high) = middle;
        }
        return low;
    }

private:
    const std::byte* data_;
    std::size_t size_;
    std::vector<std::byte> held_;
    void* mapping_;
    Counts counts_;
    Layout at_{};
};

Result<CorpusIndex> CorpusIndex::fromBytes(std::vector<std::byte> bytes) {
    const std::byte* data = bytes.data();
    const std::size_t size = bytes.size();
    auto image = std::make_shared<Image>(data, size, std::move(bytes), nullptr);
    if (auto problem = image->check()) return Error{ErrorCode::invalidFormat, "the index " + *problem};
    return CorpusIndex(std::move(image));
}

Result<CorpusIndex> CorpusIndex::open(const std::filesystem::path& path) {
    const std::string name = path.string();
    const auto cannot = [&](const std::string& why, int systemError = 0) {
        return Error{ErrorCode::cannotOpen, "cannot read the index " + name + ": " + why, systemError, name};
    };
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return cannot("it cannot be opened");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart == 0) {
        CloseHandle(file);
        return Error{ErrorCode::invalidFormat, "the index " + name + " is not an index"};
    }
    void* view = nullptr;
    if (HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
        view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        CloseHandle(mapping);
    }
    CloseHandle(file);
    if (!view) return cannot("it cannot be mapped");
    auto image =
        std::make_shared<Image>(static_cast<const std::byte*>(view), static_cast<std::size_t>(size.QuadPart),
                                std::vector<std::byte>{}, view);
#else
    const int file = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0) return cannot(std::strerror(errno), errno);
    struct stat status {};
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file);
        return cannot("it is not a regular file");
    }
    if (status.st_size == 0) {
        ::close(file);
        return Error{ErrorCode::invalidFormat, "the index " + name + " is not an index"};
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, file, 0);
    ::close(file);
    if (view == MAP_FAILED) return cannot(std::strerror(errno), errno);
    auto image =
        std::make_shared<Image>(static_cast<const std::byte*>(view), size, std::vector<std::byte>{}, view);
#endif
    if (auto problem = image->check())
        return Error{ErrorCode::invalidFormat, "the index " + name + " " + *problem};
    return CorpusIndex(std::move(image));
}

std::size_t CorpusIndex::entries() const {
    return image_->counts().entries;
}
std::size_t CorpusIndex::records() const {
    return image_->counts().records;
}
std::size_t CorpusIndex::groups() const {
    return image_->counts().groups;
}
bool CorpusIndex::keepsGroups() const {
    return image_->counts().flags & kKeepsGroups;
}

std::optional<IndexEntry> CorpusIndex::entry(std::size_t n) const {
    const Image& image = *image_;
    const Counts& counts = image.counts();
    if (n >= counts.entries) return std::nullopt;
    const auto top = image.top16(n);
    if (!top) return std::nullopt;
    IndexEntry entry;
    entry.dhash = image.hashA(n, *top);
    const std::uint32_t owner = image.u32(image.at().owner, n);
    entry.record = owner & kRecordMask;
    entry.main = owner & kMainFlag;
    entry.inAll = owner & kAllFlag;
    if (entry.record >= counts.records) return std::nullopt;
    // The icon index, where it is not 0, from the numbered entries.
    std::uint64_t low = 0, high = counts.numbered;
    while (low < high) {
        const std::uint64_t middle = (low + high) / 2;
        const std::uint32_t at = image.u32(image.at().numbered, 2 * middle);
        if (at == n) {
            entry.index = image.u32(image.at().numbered, 2 * middle + 1);
            break;
        }
        if (at < n) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return entry;
}

std::optional<std::string_view> CorpusIndex::fileName(std::uint32_t record) const {
    const Image& image = *image_;
    if (record >= image.counts().records) return std::nullopt;
    const std::uint64_t begin = record == 0 ? 0 : image.u64(image.at().nameEnd, record - 1);
    const std::uint64_t end = image.u64(image.at().nameEnd, record);
    if (begin > end || end > image.counts().nameBytes) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(image.bytes(image.at().names + begin)),
                            end - begin);
}

std::optional<std::string> CorpusIndex::groupSha256(std::size_t group) const {
    if (group >= image_->counts().groups) return std::nullopt;
    return hexText(image_->bytes(image_->at().groupHash + 32 * group), 32);
}

bool CorpusIndex::groupEntries(std::size_t group, const std::function<void(std::size_t)>& each) const {
    const Image& image = *image_;
    if (group >= image.counts().groups) return false;
    const std::uint64_t begin = image.u32(image.at().groupStart, group);
    const std::uint64_t end = image.u32(image.at().groupStart, group + 1);
    if (begin > end || end > image.counts().grouped) return false;
    for (std::uint64_t i = begin; i < end; ++i) {
        const std::uint32_t entry = image.u32(image.at().groupList, i);
        if (entry >= image.counts().entries) return false;
        each(entry);
    }
    return true;
}

bool CorpusIndex::withGroup(std::string_view sha256, bool allIcons,
                            const std::function<void(std::size_t)>& hit) const {
    const Image& image = *image_;
    const auto wanted = parseSha256(sha256);
    if (!wanted) return true;
    std::uint64_t low = 0, high = image.counts().groups;
    while (low < high) {
        const std::uint64_t middle = (low + high) / 2;
        const int order = std::memcmp(image.bytes(image.at().groupHash + 32 * middle), wanted->data(), 32);
        if (order == 0) {
            const std::uint32_t flag = allIcons ? kAllFlag : kMainFlag;
            return groupEntries(middle, [&](std::size_t entry) {
                if (image.u32(image.at().owner, entry) & flag) hit(entry);
            });
        }
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return true;
}

// Every hash within `radius` has one half, high or low, within half the
// radius. Table A is searched for the entries whose high half is near
// enough: only the buckets within that many bits of the hash's bucket. Table
// B, bucketed on the low half, then gives the rest: the entries whose high
// half is too far for A, which leaves their low half fewer bits still.
namespace {

// Where the run of entries from `first` for which `same` holds ends, before
// `limit`, for entries sorted so that such a run is one stretch: found by
// steps that double, then halving, so a run of a million costs some forty
// looks.
template <class Same>
std::uint64_t runEnd(std::uint64_t first, std::uint64_t limit, const Same& same) {
    std::uint64_t in = first, out = first + 1, step = 1;  // `in` is in the run
    while (out < limit && same(out)) {
        in = out;
        step *= 2;
        out = std::min(limit, in + step);
    }
    while (out - in > 1) {
        const std::uint64_t middle = in + (out - in) / 2;
        (same(middle) ? in : out) = middle;
    }
    return in + 1;
}

}  // namespace

bool CorpusIndex::findNear(std::uint64_t hash, int radius, bool allIcons,
                           const std::function<void(std::size_t, int)>& hit, bool oneOfEachHash) const {
    const Image& image = *image_;
    const Layout& at = image.at();
    const std::uint32_t bits = image.counts().bits;
    const std::uint32_t wanted = allIcons ? kAllFlag : kMainFlag;
    radius = std::clamp(radius, 0, 64);
    const int highMost = radius / 2;
    const int lowMost = radius - highMost - 1;
    const auto report = [&](std::uint64_t position, std::uint64_t stored) {
        const int distance = hammingDistance(stored, hash);
        if (distance <= radius && (image.u32(at.owner, position) & wanted)) hit(position, distance);
    };
    // The first entry compared among `positions` (of one stored hash).
    const auto reportFirst = [&](std::uint64_t count, std::uint64_t stored, const auto& position) {
        const int distance = hammingDistance(stored, hash);
        if (distance > radius) return;
        for (std::uint64_t i = 0; i < count; ++i) {
            if (image.u32(at.owner, position(i)) & wanted) return hit(position(i), distance);
        }
    };

    bool sound = true;
    const std::uint64_t buckets = std::uint64_t{1} << bits;
    const auto scanA = [&](std::uint64_t b, bool highOnly) {
        const auto range = image.bucket(at.dirA, b);
        if (!range) return sound = false;
        const std::uint64_t top = b >> (bits - 16), end = range->second;
        const auto hashAt = [&](std::uint64_t p) { return p < end ? image.hashA(p, top) : 0; };
        // Each hash is read once: the look at the next entry, which tells
        // whether a run of copies goes on, is that entry's own.
        std::uint64_t stored = hashAt(range->first);
        for (std::uint64_t p = range->first; p < end;) {
            std::uint64_t next = p + 1, following = hashAt(next);
            if (oneOfEachHash && next < end && following == stored) {
                next = runEnd(next, end, [&](std::uint64_t q) { return image.hashA(q, top) == stored; });
                following = hashAt(next);
            }
            if (!highOnly || std::popcount((stored ^ hash) >> 32) <= highMost) {
                if (oneOfEachHash) {
                    reportFirst(next - p, stored, [&](std::uint64_t i) { return p + i; });
                } else {
                    report(p, stored);
                }
            }
            p = next;
            stored = following;
        }
        return true;
    };
    // Where near every bucket would be visited, reading all of A at once is
    // quicker and finds everything.
    if (nearCount(bits, highMost, buckets / 8) >= buckets / 8) {
        for (std::uint64_t b = 0; b < buckets && sound; ++b) scanA(b, false);
        return sound;
    }
    forEachNear(hash >> (64 - bits), bits, highMost, [&](std::uint64_t b) { return scanA(b, true); });
    const std::uint64_t low = rotated(hash);
    forEachNear(low >> (64 - bits), bits, lowMost, [&](std::uint64_t b) {
        const auto range = image.bucket(at.dirB, b);
        if (!range) return sound = false;
        const std::uint64_t low32 = (b >> (bits - 16)) << 16;
        const auto key = [&](std::uint64_t p) { return load<std::uint16_t>(image.bytes(at.keysB + 2 * p)); };
        for (std::uint64_t p = range->first; p < range->second;) {
            const std::uint64_t lowHalf = low32 | key(p);
            if (std::popcount(lowHalf ^ (hash & 0xFFFFFFFFu)) > lowMost) {
                // Table B is sorted on the low half first: all of this low
                // half is as far.
                const std::uint16_t same = key(p);
                const bool copies = oneOfEachHash && p + 1 < range->second && key(p + 1) == same;
                p = copies ? runEnd(p + 1, range->second, [&](std::uint64_t q) { return key(q) == same; })
                           : p + 1;
                continue;
            }
            const std::uint32_t position = image.u32(at.linkB, p);
            if (position >= image.counts().entries) return sound = false;
            const auto top = image.top16(position);
            if (!top) return sound = false;
            const std::uint64_t stored = image.hashA(position, *top);
            if ((stored & 0xFFFFFFFFu) != lowHalf) return sound = false;
            const bool inReach = std::popcount((stored ^ hash) >> 32) > highMost;
            if (!oneOfEachHash) {
                if (inReach) report(position, stored);
                ++p;
                continue;
            }
            // Then on the high half: the copies of this hash come together.
            const auto fullHashOf = [&](std::uint64_t q) -> std::optional<std::uint64_t> {
                const std::uint32_t linked = image.u32(at.linkB, q);
                if (linked >= image.counts().entries) return std::nullopt;
                const auto topOf = image.top16(linked);
                return topOf ? std::optional(image.hashA(linked, *topOf)) : std::nullopt;
            };
            const bool copies = p + 1 < range->second && key(p + 1) == key(p) && fullHashOf(p + 1) == stored;
            const std::uint64_t end =
                copies
                    ? runEnd(p + 1, range->second, [&](std::uint64_t q) { return fullHashOf(q) == stored; })
                    : p + 1;
            if (inReach)
                reportFirst(end - p, stored, [&](std::uint64_t i) { return image.u32(at.linkB, p + i); });
            p = end;
        }
        return true;
    });
    return sound;
}

// What the builder keeps of each icon until the index is written.
struct IndexBuilder::Data {
    struct Item {
        std::uint64_t hash;
        std::uint32_t record;
        std::uint32_t index;
        std::uint32_t flags;
        std::uint32_t group;  // into groups, or kNoGroup
    };
    static constexpr std::uint32_t kNoGroup = 0xFFFFFFFFu;
    std::vector<Item> items;
    std::vector<std::array<std::uint8_t, 32>> groups;  // in the order met, repeats and all
    std::string names;
    std::vector<std::uint64_t> nameEnds;
    bool keepGroups = true;
    bool tooMany = false;
};

IndexBuilder::IndexBuilder(bool keepGroups) : data_(std::make_unique<Data>()) {
    data_->keepGroups = keepGroups;
}
IndexBuilder::~IndexBuilder() = default;

bool IndexBuilder::addLine(std::string_view line) {
    const auto record = readRecord(line);
    if (!record) return false;
    Data& d = *data_;
    if (d.nameEnds.size() >= kRecordMask || d.items.size() + record->icons.size() > kMaxEntries ||
        d.names.size() + record->file.size() > kMaxNameBytes) {
        d.tooMany = true;
        return true;
    }
    const auto number = static_cast<std::uint32_t>(d.nameEnds.size());
    d.names += record->file;
    d.nameEnds.push_back(d.names.size());
    const RecordIcon* main = nullptr;
    for (const RecordIcon& icon : record->icons) {
        if (!icon.dhash) continue;
        if (icon.main) {
            main = &icon;
            continue;
        }
        std::uint32_t flags = kAllFlag;
        // The main icon is one of all as well: one entry stands for both.
        if (main && main->index == icon.index && main->dhash == icon.dhash &&
            main->groupSha256 == icon.groupSha256) {
            flags |= kMainFlag;
            main = nullptr;
        }
        std::uint32_t group = Data::kNoGroup;
        if (icon.groupSha256 && d.keepGroups) {
            group = static_cast<std::uint32_t>(d.groups.size());
            d.groups.push_back(*icon.groupSha256);
        }
        d.items.push_back({*icon.dhash, number, static_cast<std::uint32_t>(icon.index), flags, group});
    }
    if (main) {
        std::uint32_t group = Data::kNoGroup;
        if (main->groupSha256 && d.keepGroups) {
            group = static_cast<std::uint32_t>(d.groups.size());
            d.groups.push_back(*main->groupSha256);
        }
        d.items.push_back({*main->dhash, number, static_cast<std::uint32_t>(main->index),
                           kMainFlag | (record->hasAll ? 0u : kAllFlag), group});
    }
    return true;
}

Result<std::vector<std::byte>> IndexBuilder::finish(std::uint32_t bucketBits) {
    Data& d = *data_;
    if (d.tooMany)
        return Error{ErrorCode::invalidFormat, "more records, icons or name bytes than one index holds"};
    auto& items = d.items;
    std::sort(items.begin(), items.end(), [](const Data::Item& a, const Data::Item& b) {
        return std::tie(a.hash, a.record, a.index, a.flags) < std::tie(b.hash, b.record, b.index, b.flags);
    });
    Counts counts;
    counts.entries = items.size();
    counts.records = d.nameEnds.size();
    counts.nameBytes = d.names.size();
    counts.flags = d.keepGroups ? kKeepsGroups : 0;
    counts.bits = bucketBits
                      ? bucketBits
                      : static_cast<std::uint32_t>(std::clamp<int>(
                            static_cast<int>(std::bit_width(counts.entries / 16)) - 1, kMinBits, kMaxBits));
    std::vector<std::uint32_t> grouped;  // entries with a group, by group hash then position
    for (std::uint32_t p = 0; p < items.size(); ++p) {
        if (items[p].group != Data::kNoGroup) grouped.push_back(p);
        if (items[p].index != 0) ++counts.numbered;
    }
    std::sort(grouped.begin(), grouped.end(), [&](std::uint32_t a, std::uint32_t b) {
        const auto& ga = d.groups[items[a].group];
        const auto& gb = d.groups[items[b].group];
        return ga != gb ? ga < gb : a < b;
    });
    counts.grouped = grouped.size();
    for (std::size_t i = 0; i < grouped.size(); ++i)
        if (i == 0 || d.groups[items[grouped[i]].group] != d.groups[items[grouped[i - 1]].group])
            ++counts.groups;
    const auto layout = layoutOf(counts);
    if (!layout)
        return Error{ErrorCode::invalidFormat, "more records, icons or name bytes than one index holds"};
    const Layout& at = *layout;

    std::vector<std::byte> out(at.size);
    std::byte* base = out.data();
    for (std::size_t i = 0; i < sizeof kMagic; ++i) base[i] = static_cast<std::byte>(kMagic[i]);
    store(base + 8, kVersion, 4);
    store(base + 12, counts.bits, 4);
    const std::uint64_t header[] = {counts.entries,  counts.records,   counts.groups, counts.grouped,
                                    counts.numbered, counts.nameBytes, counts.flags};
    for (std::size_t i = 0; i < std::size(header); ++i) store(base + 16 + 8 * i, header[i], 8);

    const std::uint32_t bits = counts.bits;
    const auto directory = [&](std::uint64_t offset, const auto& bucketOf) {
        std::uint64_t p = 0;
        for (std::uint64_t b = 0; b <= (std::uint64_t{1} << bits); ++b) {
            while (p < items.size() && bucketOf(p) < b) ++p;
            store(base + offset + 4 * b, p, 4);
        }
    };
    directory(at.dirA, [&](std::uint64_t p) { return items[p].hash >> (64 - bits); });
    {
        std::uint64_t p = 0;
        for (std::uint64_t t = 0; t < kTopSlots; ++t) {
            while (p < items.size() && (items[p].hash >> 48) < t) ++p;
            store(base + at.topA + 4 * t, p, 4);
        }
    }
    std::uint64_t numbered = 0;
    for (std::uint64_t p = 0; p < items.size(); ++p) {
        const Data::Item& item = items[p];
        store(base + at.keysA + 6 * p, item.hash & kLow48, 6);
        store(base + at.owner + 4 * p, item.record | item.flags, 4);
        if (item.index != 0) {
            store(base + at.numbered + 8 * numbered, p, 4);
            store(base + at.numbered + 8 * numbered + 4, item.index, 4);
            ++numbered;
        }
    }
    {
        std::vector<std::uint32_t> orderB(items.size());
        std::iota(orderB.begin(), orderB.end(), 0u);
        std::sort(orderB.begin(), orderB.end(), [&](std::uint32_t a, std::uint32_t b) {
            const std::uint64_t ra = rotated(items[a].hash), rb = rotated(items[b].hash);
            return ra != rb ? ra < rb : a < b;
        });
        directory(at.dirB, [&](std::uint64_t p) { return rotated(items[orderB[p]].hash) >> (64 - bits); });
        for (std::uint64_t p = 0; p < orderB.size(); ++p) {
            store(base + at.keysB + 2 * p, items[orderB[p]].hash & 0xFFFF, 2);
            store(base + at.linkB + 4 * p, orderB[p], 4);
        }
    }
    std::uint64_t group = 0;
    for (std::size_t i = 0; i < grouped.size(); ++i) {
        const auto& sha = d.groups[items[grouped[i]].group];
        if (i == 0 || sha != d.groups[items[grouped[i - 1]].group]) {
            std::memcpy(base + at.groupHash + 32 * group, sha.data(), 32);
            store(base + at.groupStart + 4 * group, i, 4);
            ++group;
        }
        store(base + at.groupList + 4 * i, grouped[i], 4);
    }
    store(base + at.groupStart + 4 * counts.groups, grouped.size(), 4);
    for (std::size_t r = 0; r < d.nameEnds.size(); ++r) store(base + at.nameEnd + 8 * r, d.nameEnds[r], 8);
    std::memcpy(base + at.names, d.names.data(), d.names.size());
    return out;
}

}  // namespace pictrove::corpus
