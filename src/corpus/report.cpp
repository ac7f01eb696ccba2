// The report reads records as `similar --scan-file` does, builds the
// look-alike index of them in memory and writes its families into one page:
// the page's script and style come from report_page.cpp, the families as
// JSON inside it. Only each family's representative gets a picture, at most
// 64 pixels a side, so the page grows with the members' names, not with
// their pictures.
#include "corpus/report.h"

#include <map>
#include <ostream>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "corpus/clusters.h"
#include "corpus/corpus_index.h"
#include "engine/icon_picture.h"
#include "engine/ordered_stream.h"
#include "engine/scan_record.h"
#include "engine/sources.h"
#include "fingerprint/dhash.h"
#include "fingerprint/sha256.h"
#include "image/png.h"
#include "path_text.h"
#include "save_file.h"

namespace pictrove::corpus {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::uint32_t kSmallPicture = 32;
constexpr std::uint32_t kLargePicture = 64;
// A record's thumbnail longer than this is not taken: no real icon of 1024
// pixels a side needs as much.
constexpr std::size_t kLongestThumbnail = std::size_t{4} << 20;
// What the pictures of one page may take together; families past it show
// the placeholder, so that a corpus of many small families stays a page a
// browser opens.
constexpr std::size_t kPictureBudget = std::size_t{24} << 20;

// What the page shows of a record beyond what the index holds.
struct RecordFacts {
    std::string sha256;
    std::map<std::size_t, std::string> thumbnails;  // base64 PNG by icon index
};

bool isBase64(std::string_view text) {
    return !text.empty() && text.size() <= kLongestThumbnail && text.size() % 4 == 0 &&
           text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") ==
               std::string_view::npos;
}

bool isSha256(const Json& value) {
    if (!value.is_string()) return false;
    const auto& text = value.get_ref<const std::string&>();
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// What the page shows of each record beyond what the index holds, by file
// name: the record line is read again for it.
class RecordFactsBook {
public:
    void add(std::string_view line) {
        const Json record = Json::parse(line, nullptr, false);
        const auto file = record.is_object() ? recordFileName(record) : std::nullopt;
        if (!file) return;
        RecordFacts& facts = facts_[*file];
        if (const auto sha = record.find("sha256"); sha != record.end() && isSha256(*sha))
            facts.sha256 = sha->get<std::string>();
        const auto take = [&](const Json& icon) {
            const auto index = icon.is_object() ? icon.find("index") : icon.end();
            const auto thumbnail = icon.is_object() ? icon.find("thumbnail") : icon.end();
            if (index == icon.end() || !index->is_number_unsigned() || thumbnail == icon.end() ||
                !thumbnail->is_string() || !isBase64(thumbnail->get_ref<const std::string&>()))
                return;
            facts.thumbnails[index->get<std::size_t>()] = thumbnail->get<std::string>();
        };
        if (const auto main = record.find("main"); main != record.end()) take(*main);
        if (const auto all = record.find("all"); all != record.end() && all->is_array())
            for (const Json& icon : *all) take(icon);
    }

    const RecordFacts* find(const std::string& file) const {
        const auto found = facts_.find(file);
        return found == facts_.end() ? nullptr : &found->second;
    }

private:
    std::unordered_map<std::string, RecordFacts> facts_;
};

std::string base64Of(const std::vector<std::uint8_t>& png) {
    return base64({reinterpret_cast<const char*>(png.data()), png.size()});
}

// A record's thumbnail as the page shows it: as it is up to 64 pixels a
// side, fitted into 64 when larger; nothing when it is no PNG.
std::optional<std::string> pageThumbnail(const std::string& text) {
    const auto bytes = fromBase64(text);
    if (!bytes) return std::nullopt;
    const Bytes png{reinterpret_cast<const std::byte*>(bytes->data()), bytes->size()};
    const auto info = peekPng(png);
    if (!info) return std::nullopt;
    if (info->width <= kLargePicture && info->height <= kLargePicture) return text;
    const auto image = decodePng(png);
    if (!image || image->empty()) return std::nullopt;
    const auto fitted = encodePng(fitInto(*image, kLargePicture));
    return fitted ? std::optional(base64Of(*fitted)) : std::nullopt;
}

// The representative's pictures, small and large, as base64 PNG: the
// record's thumbnail (shown at both sizes), else drawn from its file, else
// none, for the placeholder.
struct FamilyPictures {
    std::optional<std::string> small;
    std::optional<std::string> large;
};

FamilyPictures picturesOf(const ClusterMember& member, const RecordFacts* facts,
                          const std::string& collectionExtension) {
    if (facts) {
        if (const auto thumbnail = facts->thumbnails.find(member.index);
            thumbnail != facts->thumbnails.end()) {
            if (auto shown = pageThumbnail(thumbnail->second)) return {shown, shown};
        }
    }
    // Drawn from the file of that name only when it is still the file the
    // record describes, by its SHA-256; any other gets the placeholder.
    if (!facts || facts->sha256.empty()) return {};
    auto opened = OpenedFile::open(pathFromUtf8(member.file));
    if (!opened) return {};
    const auto digest = opened->digest();
    if (!digest || hexText(digest->sha256) != facts->sha256) return {};
    auto bytes = opened->bytes();
    if (!bytes) return {};
    const auto source = openSource(std::move(*bytes), member.file, collectionExtension);
    if (!source || member.index >= source->icons.size()) return {};
    const SourceIcon& icon = source->icons[member.index];
    const auto small = iconPng(*source, icon, kSmallPicture);
    const auto large = iconPng(*source, icon, kLargePicture);
    if (!small || !large) return {};
    return {base64Of(*small), base64Of(*large)};
}

// The pictures of the page, each once, within the budget.
class PictureBook {
public:
    // The number of `picture` in the book; -1, for the placeholder, when
    // there is none or no room for it.
    int add(const std::optional<std::string>& picture) {
        if (!picture) return -1;
        if (const auto known = numbers_.find(*picture); known != numbers_.end()) return known->second;
        if (used_ + picture->size() > kPictureBudget) return -1;
        used_ += picture->size();
        const int number = static_cast<int>(pictures_.size());
        pictures_.push_back(*picture);
        numbers_.emplace(*picture, number);
        return number;
    }

    Json json() const { return Json(pictures_); }

private:
    std::vector<std::string> pictures_;
    std::unordered_map<std::string, int> numbers_;
    std::size_t used_ = 0;
};

// The families' JSON as the page reads it, written so that no text in it
// can end the script element that holds it.
std::string pageData(Json data) {
    const std::string text = data.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string safe;
    safe.reserve(text.size());
    for (const char c : text) {
        // Only strings hold a '<', and \u003c stands for it there alike.
        if (c == '<') {
            safe += "\\u003c";
        } else {
            safe += c;
        }
    }
    return safe;
}

}  // namespace

struct ReportBuilder::Data {
    IndexBuilder index;
    RecordFactsBook facts;
};

ReportBuilder::ReportBuilder() : data_(std::make_unique<Data>()) {}
ReportBuilder::~ReportBuilder() = default;

bool ReportBuilder::addLine(std::string_view line) {
    if (!data_->index.addLine(line)) return false;
    data_->facts.add(line);
    return true;
}

std::optional<Error> ReportBuilder::write(const std::filesystem::path& target, const ReportSettings& given) {
    auto image = data_->index.finish();
    auto index = image ? CorpusIndex::fromBytes(std::move(*image)) : Result<CorpusIndex>(image.error());
    if (!index) return index.error();
    const RecordFactsBook& facts = data_->facts;

    const ClusterSettings settings{given.radius, given.minSize, given.allIcons, given.jobs};
    std::vector<Cluster> clusters;
    if (!forEachCluster(*index, settings, [&](const Cluster& cluster) { clusters.push_back(cluster); }))
        return Error{ErrorCode::invalidFormat, "the index of the records is damaged"};

    PictureBook pictures;
    Json families = Json::array();
    std::size_t next = 0;
    runStreamInOrder<std::size_t, FamilyPictures>(
        [&]() -> std::optional<std::size_t> {
            if (next == clusters.size()) return std::nullopt;
            return next++;
        },
        [&](std::size_t& n) {
            const Cluster& cluster = clusters[n];
            const ClusterMember& shown = cluster.members.at(cluster.representative);
            return picturesOf(shown, facts.find(shown.file), given.collectionExtension);
        },
        [&](FamilyPictures& shown) {
            const Cluster& cluster = clusters[families.size()];
            Json members = Json::array();
            for (const ClusterMember& member : cluster.members) {
                const RecordFacts* known = facts.find(member.file);
                members.push_back(Json::array({member.file, member.index, dhashText(member.dhash),
                                               known ? known->sha256 : std::string(), member.distance}));
            }
            families.push_back(Json::array({cluster.files, cluster.representative, pictures.add(shown.small),
                                            pictures.add(shown.large), std::move(members)}));
        },
        given.jobs);

    Json data = {{"records", index->records()}, {"radius", settings.radius},
                 {"minSize", settings.minSize}, {"allIcons", settings.allIcons},
                 {"pictures", pictures.json()}, {"families", std::move(families)}};
    const std::string page = kReportPageHead + pageData(std::move(data)) + kReportPageTail;
    return saveFile(target, {reinterpret_cast<const std::uint8_t*>(page.data()), page.size()});
}

}  // namespace pictrove::corpus
