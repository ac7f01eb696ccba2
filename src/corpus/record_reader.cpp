#include "corpus/record_reader.h"

#include <nlohmann/json.hpp>

#include "engine/scan_record.h"
#include "fingerprint/dhash.h"

namespace pictrove::corpus {
namespace {

using Json = nlohmann::json;

}  // namespace

std::optional<std::array<std::uint8_t, 32>> parseSha256(std::string_view text) {
    if (text.size() != 64) return std::nullopt;
    std::array<std::uint8_t, 32> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto part = parseDhash(text.substr(16 * i, 16));
        if (!part) return std::nullopt;
        for (std::size_t k = 0; k < 8; ++k)
            bytes[8 * i + k] = static_cast<std::uint8_t>(*part >> (56 - 8 * k));
    }
    return bytes;
}

namespace {

// Walks a record's JSON as it is parsed, keeping only the name and, of each
// icon, its index and hashes: the images and every other field are passed
// over without being built. Any spacing and key order is read alike, and a
// key given twice counts as its last value, as a parser building the whole
// record would have it.
class RecordWalk : public nlohmann::json_sax<Json> {
public:
    std::optional<RecordIcons> result() {
        if (!valid_ || !isObject_) return std::nullopt;
        RecordIcons record;
        if (fileBytesGiven_) {
            if (!fileBytes_) return std::nullopt;
            const auto bytes = fromBase64(*fileBytes_);
            if (!bytes) return std::nullopt;
            record.file = *bytes;
        } else if (file_) {
            record.file = std::move(*file_);
        } else {
            return std::nullopt;
        }
        if (main_) record.icons.push_back(*main_);
        record.icons.insert(record.icons.end(), all_.begin(), all_.end());
        record.hasAll = hasAll_;
        return record;
    }

    bool null() override { return scalar(Value::null); }
    bool boolean(bool) override { return scalar(Value::other); }
    bool number_integer(number_integer_t) override { return scalar(Value::other); }
    bool number_unsigned(number_unsigned_t value) override {
        if (at(Place::icon) && key_ == "index") {
            // No file holds more icons than 32 bits count, nor does the index.
            if (value > UINT32_MAX) return invalid();
            icon_.index = static_cast<std::size_t>(value);
        }
        return scalar(Value::other);
    }
    bool number_float(number_float_t, const string_t&) override { return scalar(Value::other); }
    bool binary(binary_t&) override { return scalar(Value::other); }

    bool string(string_t& text) override {
        if (at(Place::root)) {
            if (key_ == "file") file_ = std::move(text);
            if (key_ == "file_bytes") fileBytes_ = std::move(text);
            if (key_ == "file" || key_ == "file_bytes") return true;
        } else if (at(Place::icon)) {
            if (key_ == "dhash") {
                icon_.dhash = text.size() == 16 ? parseDhash(text) : std::nullopt;
                return icon_.dhash ? true : invalid();
            }
            if (key_ == "group_sha256") icon_.groupSha256 = parseSha256(text);
        }
        return scalar(Value::other);
    }

    bool start_object(std::size_t) override {
        if (places_.empty()) {
            isObject_ = true;
            places_.push_back(Place::root);
            return true;
        }
        if (mustBeIcon()) {
            if (at(Place::root)) main_.reset();
            icon_ = RecordIcon{};
            icon_.main = at(Place::root);
            places_.push_back(Place::icon);
            return true;
        }
        return enterOther();
    }

    bool end_object() override {
        const Place closed = places_.back();
        places_.pop_back();
        if (closed == Place::icon) {
            if (icon_.main) {
                main_ = icon_;
            } else {
                all_.push_back(icon_);
            }
        }
        return true;
    }

    bool start_array(std::size_t) override {
        if (places_.empty()) return invalid();
        if (at(Place::root) && key_ == "all") {
            all_.clear();
            hasAll_ = true;
            places_.push_back(Place::all);
            return true;
        }
        return enterOther();
    }

    bool end_array() override {
        places_.pop_back();
        return true;
    }

    bool key(string_t& name) override {
        key_ = std::move(name);
        if (at(Place::root) && key_ == "file") file_.reset();
        if (at(Place::root) && key_ == "file_bytes") {
            fileBytes_.reset();
            fileBytesGiven_ = true;
        }
        if (at(Place::icon) && key_ == "dhash") icon_.dhash.reset();
        if (at(Place::icon) && key_ == "group_sha256") icon_.groupSha256.reset();
        if (at(Place::icon) && key_ == "index") icon_.index = 0;
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return invalid();
    }

private:
    enum class Place { root, icon, all, other };
    enum class Value { null, other };

    bool at(Place place) const { return !places_.empty() && places_.back() == place; }

    // Where only an icon object may stand: "main", or an entry of "all".
    bool mustBeIcon() const { return (at(Place::root) && key_ == "main") || at(Place::all); }
    // Where no object or array may stand: an icon's hash, and "all" only as one.
    bool mustBeScalar() const { return at(Place::icon) && key_ == "dhash"; }

    // An object or array none of whose contents the record needs.
    bool enterOther() {
        if (mustBeIcon() || mustBeScalar()) return invalid();
        places_.push_back(Place::other);
        return true;
    }

    bool scalar(Value value) {
        if (places_.empty()) return invalid();
        if (mustBeIcon() || (at(Place::root) && key_ == "all")) return invalid();
        if (at(Place::icon) && key_ == "dhash" && value != Value::null) return invalid();
        return true;
    }

    bool invalid() {
        valid_ = false;
        return false;
    }

    std::vector<Place> places_;
    std::string key_;
    bool valid_ = true;
    bool isObject_ = false;
    std::optional<std::string> file_;
    std::optional<std::string> fileBytes_;
    bool fileBytesGiven_ = false;  // a name's bytes, even of the wrong type, stand for it
    RecordIcon icon_;
    std::optional<RecordIcon> main_;
    std::vector<RecordIcon> all_;
    bool hasAll_ = false;
};

}  // namespace

std::optional<RecordIcons> readRecord(std::string_view line) {
    RecordWalk walk;
    if (!Json::sax_parse(line, &walk)) return std::nullopt;
    return walk.result();
}

}  // namespace pictrove::corpus
