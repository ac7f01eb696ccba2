// Windows Installer databases: a compound file (read by libgsf, through a
// stream that asks the file's byte source for each range it needs) whose
// tables are streams of their own. The Icon table names each icon (Name)
// and keeps its bytes, an icon file or a program, in the stream
// "Icon.<Name>"; the Property table's ARPPRODUCTICON names the product's
// icon. Only these two tables and the string pool they refer to are read,
// and of the pool's text only the strings looked at.
#include "icon_source/format_module.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-impl.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "reader_limits.h"

namespace pictrove {

namespace {

// --- the byte source as a libgsf input ---------------------------------

struct ViewSource {
    FileView view;
    std::vector<guint8> buffer;  // what a read without a buffer of its own hands out
};
struct ViewInput {
    GsfInput base;
    ViewSource* source;  // owned
};
struct ViewInputClass {
    GsfInputClass base;
};

GType viewInputType();

ViewInput* newViewInput(const FileView& view) {
    auto* input = static_cast<ViewInput*>(g_object_new(viewInputType(), nullptr));
    input->source = new ViewSource{view, {}};
    gsf_input_set_size(&input->base, static_cast<gsf_off_t>(view.size()));
    return input;
}

// The bytes of [cur_offset, + length), copied out of the file without being
// kept in its memory: libgsf keeps what it needs (the sector tables, the
// directory) itself, and the streams read are kept once, as members.
const guint8* readView(GsfInput* base, std::size_t length, guint8* into) {
    ViewSource& source = *reinterpret_cast<ViewInput*>(base)->source;
    if (!into) {
        source.buffer.resize(length);
        into = source.buffer.data();
    }
    const auto offset = static_cast<std::uint64_t>(base->cur_offset);
    return source.view.copyOut(offset, reinterpret_cast<std::byte*>(into), length) ? into : nullptr;
}

gboolean seekView(GsfInput*, gsf_off_t, GSeekType) {
    return FALSE;  // the base class checked the place and moves there
}

GsfInput* dupView(GsfInput* base, GError**) {
    return &newViewInput(reinterpret_cast<ViewInput*>(base)->source->view)->base;
}

GObjectClass* parentClass = nullptr;

void finalizeView(GObject* object) {
    delete reinterpret_cast<ViewInput*>(object)->source;
    parentClass->finalize(object);
}

void initViewClass(gpointer klass, gpointer) {
    parentClass = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
    auto* input = static_cast<GsfInputClass*>(klass);
    input->Read = readView;
    input->Seek = seekView;
    input->Dup = dupView;
    input->g_object_class.finalize = finalizeView;
}

GType viewInputType() {
    static const GType type = [] {
        GTypeInfo info{};
        info.class_size = sizeof(ViewInputClass);
        info.class_init = initViewClass;
        info.instance_size = sizeof(ViewInput);
        return g_type_register_static(gsf_input_get_type(), "PictroveViewInput", &info, GTypeFlags(0));
    }();
    return type;
}

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Input = std::unique_ptr<GsfInput, Unref>;
using Infile = std::unique_ptr<GsfInfile, Unref>;

void quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// libgsf reports damage it meets on the standard error; a reader's answer
// for a damaged file is no icons, said once by its caller.
void quietLibgsf() {
    static const bool done = [] {
        for (const char* domain : {"libgsf", "libgsf:msole", "GLib-GObject"})
            g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_MASK), quiet, nullptr);
        return true;
    }();
    (void)done;
}

// --- the database --------------------------------------------------------

struct Table {
    std::size_t rows = 0, columns = 0;
    std::vector<std::uint32_t> cells;  // row after row
    std::uint32_t at(std::size_t row, std::size_t column) const { return cells[row * columns + column]; }
};

class Database {
public:
    static std::optional<Database> open(const FileView& file) {
        quietLibgsf();
        const Input source(&newViewInput(file)->base);
        Infile root(gsf_infile_msole_new(source.get(), nullptr));
        if (!root) return std::nullopt;
        Database database(std::move(root), file.size());
        if (!database.readStringPool()) return std::nullopt;
        return database;
    }

    // The whole of a stream up to `limit` bytes; nothing when it is missing
    // or longer, or longer than the file (streams are stored as they are).
    std::optional<std::vector<std::byte>> stream(const std::string& name, std::uint64_t limit) const {
        const Input input(child(name));
        if (!input) return std::nullopt;
        const auto size = gsf_input_size(input.get());
        if (size < 0 || static_cast<std::uint64_t>(size) > std::min(limit, fileSize_)) return std::nullopt;
        std::vector<std::byte> bytes(static_cast<std::size_t>(size));
        if (size > 0 && !gsf_input_read(input.get(), bytes.size(), reinterpret_cast<guint8*>(bytes.data())))
            return std::nullopt;
        return bytes;
    }

    // The size of a stream; nothing when it is missing or longer than the
    // file. Known from the compound file's directory, before any reading.
    std::optional<std::uint64_t> streamSize(const std::string& name) const {
        const Input input(child(name));
        const auto size = input ? gsf_input_size(input.get()) : -1;
        if (size < 0 || static_cast<std::uint64_t>(size) > fileSize_) return std::nullopt;
        return static_cast<std::uint64_t>(size);
    }

    std::size_t stringIdSize() const { return longStringIds_ ? 3 : 2; }

    // The string `id` names, when it is no longer than `longest`.
    std::optional<std::string> string(std::uint32_t id, std::size_t longest) const {
        if (id == 0 || id >= strings_.size() || strings_[id].length > longest) return std::nullopt;
        const auto [offset, length] = strings_[id];
        if (length == 0) return std::string();
        if (gsf_input_seek(stringData_.get(), static_cast<gsf_off_t>(offset), G_SEEK_SET))
            return std::nullopt;
        std::string text(length, '\0');
        if (!gsf_input_read(stringData_.get(), length, reinterpret_cast<guint8*>(text.data())))
            return std::nullopt;
        return text;
    }

    // Whether the string `id` names is `text`; only one of its length is read.
    bool stringIs(std::uint32_t id, std::string_view text) const {
        return id != 0 && id < strings_.size() && strings_[id].length == text.size() &&
               string(id, text.size()) == text;
    }

    // The cells of a table whose columns are strings or 16-bit values,
    // each `widths[c]` bytes, stored column after column. Nothing when the
    // stream is missing or not a whole number of rows.
    std::optional<Table> table(const std::string& name, const std::vector<std::size_t>& widths) const {
        std::size_t rowSize = 0;
        for (const std::size_t width : widths) rowSize += width;
        const auto bytes = stream(msiStreamName(name, true), limits::kMaxMsiTableBytes);
        if (!bytes || bytes->size() % rowSize != 0) return std::nullopt;
        Table table{bytes->size() / rowSize, widths.size(), {}};
        table.cells.resize(table.rows * table.columns);
        std::size_t at = 0;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            for (std::size_t r = 0; r < table.rows; ++r, at += widths[c]) {
                std::uint32_t value = 0;
                for (std::size_t b = 0; b < widths[c]; ++b)
                    value |= std::to_integer<std::uint32_t>((*bytes)[at + b]) << (8 * b);
                table.cells[r * table.columns + c] = value;
            }
        }
        return table;
    }

private:
    Database(Infile root, std::uint64_t fileSize) : root_(std::move(root)), fileSize_(fileSize) {
        // The root's streams by name, looked up once each: a database of
        // thousands of icons would otherwise walk the whole list per icon.
        const int count = gsf_infile_num_children(root_.get());
        for (int i = 0; i < count; ++i) {
            if (const char* name = gsf_infile_name_by_index(root_.get(), i)) children_.emplace(name, i);
        }
    }

    // A stream of the root by name; nothing when there is none.
    GsfInput* child(const std::string& name) const {
        const auto found = children_.find(name);
        return found == children_.end() ? nullptr : gsf_infile_child_by_index(root_.get(), found->second);
    }

    // The pool: the code page (its top bit: string IDs take three bytes),
    // then per ID from 1 the length and reference count of its string,
    // whose text lies in _StringData one after another. A string of 64 KiB
    // or more has a zero length and takes the next entry as well, whose two
    // words are the low and high word of its length.
    bool readStringPool() {
        const auto pool = stream(msiStreamName("_StringPool", true), limits::kMaxMsiStringPool);
        stringData_.reset(child(msiStreamName("_StringData", true)));
        if (!pool || pool->size() < 4 || !stringData_) return false;
        const auto word = [&](std::size_t i) { return loadU16(pool->data() + 2 * i); };
        longStringIds_ = (word(1) & 0x8000) != 0;
        const std::size_t entries = pool->size() / 4;
        const auto dataSize = static_cast<std::uint64_t>(gsf_input_size(stringData_.get()));
        std::uint64_t offset = 0;
        strings_.assign(1, {});
        for (std::size_t i = 1; i < entries; ++i) {
            std::uint64_t length = word(2 * i);
            if (length == 0 && word(2 * i + 1) != 0) {
                if (++i >= entries) break;
                length = std::uint64_t{word(2 * i + 1)} << 16 | word(2 * i);
            }
            if (!fitsIn(dataSize, offset, length)) break;
            strings_.push_back({offset, static_cast<std::uint32_t>(length)});
            offset += length;
        }
        return true;
    }

    struct StringAt {
        std::uint64_t offset = 0;
        std::uint32_t length = 0;
    };
    Infile root_;
    std::uint64_t fileSize_;
    std::unordered_map<std::string, int> children_;  // the first of each name
    Input stringData_;
    bool longStringIds_ = false;
    std::vector<StringAt> strings_;  // by ID; 0 is the empty string
};

// The icon a stream holds: an icon file whole, or a program's first icon.
std::optional<IconGroup> streamIcon(Bytes bytes) {
    if (hasTagAt(bytes, 0, "MZ")) {
        auto groups = readPeIcons(FileView(bytes), GroupKind::icons, 1);
        if (!groups.empty()) return std::move(groups.front());
        return std::nullopt;
    }
    return readIcoFile(FileView(bytes));
}

// The icon of an Icon row's stream, read once the bytes it takes are known
// to be within what the file may have taken out; past that, the file's
// failure.
std::optional<IconGroup> iconOfStream(const Database& database, const std::string& stream, MadeBytes& made) {
    const auto size = database.streamSize(stream);
    if (!size) return std::nullopt;
    if (*size > limits::kMaxPackageMember || !made.hasRoomFor(*size)) {
        made.fail(
            "its icon streams take more bytes than a file of its size may have taken out (64 MiB, or 64 for "
            "each of its bytes, at most 256 MiB)");
        return std::nullopt;
    }
    auto bytes = database.stream(stream, limits::kMaxPackageMember);
    if (!bytes) return std::nullopt;
    made.countTakenOut(bytes->size());
    const auto kept = made.keep(std::move(*bytes));
    return kept ? streamIcon(*kept) : std::nullopt;
}

}  // namespace

std::optional<std::vector<IconGroup>> formats::readMsiIcons(const FileView& file, MadeBytes& made,
                                                            std::size_t groupLimit) {
    const auto database = Database::open(file);
    if (!database) return std::nullopt;
    const std::size_t id = database->stringIdSize();
    std::vector<IconGroup> groups;
    const auto icons = database->table("Icon", {id, 2});
    if (!icons) return groups;
    const auto properties = database->table("Property", {id, id});

    // The rows in the order delivered: the product's icon first.
    std::vector<std::string> names;
    for (std::size_t row = 0; row < icons->rows && names.size() < limits::kMaxIconGroups; ++row) {
        if (auto name = database->string(icons->at(row, 0), limits::kMaxMsiNameLength))
            names.push_back(std::move(*name));
    }
    constexpr std::string_view kProductIcon = "ARPPRODUCTICON";
    for (std::size_t row = 0; properties && row < properties->rows; ++row) {
        if (!database->stringIs(properties->at(row, 0), kProductIcon)) continue;
        const auto product = database->string(properties->at(row, 1), limits::kMaxMsiNameLength);
        const auto found = std::find(names.begin(), names.end(), product.value_or(""));
        if (found != names.end()) std::rotate(names.begin(), found, found + 1);
        break;
    }

    // Rows naming one stream share its reading.
    std::unordered_map<std::string, std::optional<IconGroup>> read;
    for (const std::string& name : names) {
        if (groups.size() >= groupLimit || made.failure()) break;
        const std::string stream = msiStreamName("Icon." + name, false);
        auto found = read.find(stream);
        if (found == read.end()) found = read.emplace(stream, iconOfStream(*database, stream, made)).first;
        if (!found->second) continue;
        groups.push_back(*found->second);
        groups.back().name = ResourceName::text(name);
    }
    return groups;
}
}  // namespace pictrove
