// The Python module `pictrove._pictrove`: the engine's sources, icons and
// records as Python objects. Only the Python conduct lives here (argument
// types, exceptions, the GIL); every rule comes from the engine, as the
// command-line tool takes it. The GIL is let go around every read, decode
// and encode, so threads of a pool work on files at once.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "corpus/clusters.h"
#include "corpus/corpus_index.h"
#include "corpus/record_lines.h"
#include "corpus/record_reader.h"
#include "corpus/report.h"
#include "corpus/searches.h"
#include "engine/scan_record.h"
#include "engine/sources.h"
#include "fingerprint/dhash.h"
#include "group_file.h"
#include "icon_source/icon_file.h"
#include "image/decoded_images.h"
#include "image/png.h"
#include "module_loader.h"
#include "path_text.h"
#include "save_file.h"

namespace py = pybind11;

namespace pictrove::python {
namespace {

using corpus::forEachRecordLine;
using corpus::RecordLineCounts;

// The exception classes, made when the module is loaded.
py::handle errorType;
py::handle fileErrorType;
py::handle formatErrorType;

// An error of the engine on its way to Python: a file that cannot be read or
// written becomes a FileError (an OSError), anything else a FormatError (a
// ValueError).
struct EngineError {
    Error error;
};

[[noreturn]] void fail(const Error& error) {
    throw EngineError{error};
}

// What the package itself refuses, as pictrove.Error.
struct PackageError {
    std::string message;
};

// NumPy, which only rgba() needs, imported when first asked for. pybind11
// sets up NumPy's API inside a guard that the first caller holds while the
// import lets the GIL go; a second thread reaching that guard with the GIL
// held would wait on it for ever. So the first use waits here, without the
// GIL, until NumPy is in.
std::atomic<bool> numpyReady = false;
std::mutex numpyLoading;

void requireNumpy() {
    if (numpyReady.load(std::memory_order_acquire)) return;
    {
        const py::gil_scoped_release free;
        numpyLoading.lock();
    }
    const std::lock_guard loading(numpyLoading, std::adopt_lock);
    if (numpyReady.load(std::memory_order_relaxed)) return;
    try {
        py::module_::import("numpy");
        py::array_t<std::uint8_t> warm(std::vector<py::ssize_t>{0});
    } catch (const py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        throw PackageError{std::string("rgba() needs NumPy, which this Python cannot import: ") + e.what()};
    }
    numpyReady.store(true, std::memory_order_release);
}

// The bytes the object offers through the buffer protocol, pinned (a
// bytearray cannot be resized, an mmap not closed) until the last thing read
// from them is gone. Let go with the GIL, wherever that happens.
std::shared_ptr<const void> pinBuffer(const py::handle& object, Bytes& bytes) {
    auto view = std::make_unique<Py_buffer>();
    if (PyObject_GetBuffer(object.ptr(), view.get(), PyBUF_SIMPLE) != 0) throw py::error_already_set();
    bytes = Bytes(static_cast<const std::byte*>(view->buf), static_cast<std::size_t>(view->len));
    return std::shared_ptr<const void>(view.release(), [](const void* pinned) {
        auto* held = static_cast<Py_buffer*>(const_cast<void*>(pinned));
        if (Py_IsInitialized()) {
            const py::gil_scoped_acquire gil;
            PyBuffer_Release(held);
        }
        delete held;
    });
}

// A path as the system takes it: str and os.PathLike through os.fsencode,
// so that names that are not UTF-8 come back as their bytes. A NUL byte
// would end the name early, naming another file: refused, as Python's own
// functions do.
std::string pathBytes(const py::handle& path) {
    auto bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    if (bytes.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return bytes;
}

// Paths are str and os.PathLike; a bytes object is always content (a zip
// member whose text is a path is not that file). What earlier versions took
// as a path, bytes without a NUL that name a file, is told apart from
// content that is no icon source, so the caller learns what changed.
bool isPath(const py::handle& object) {
    return py::isinstance<py::str>(object) || py::hasattr(object, "__fspath__");
}

bool namesFile(const py::handle& object) {
    if (!py::isinstance<py::bytes>(object)) return false;
    constexpr std::size_t kLongestPath = 4096;
    char* data = nullptr;
    Py_ssize_t size = 0;
    PyBytes_AsStringAndSize(object.ptr(), &data, &size);
    if (size <= 0 || static_cast<std::size_t>(size) > kLongestPath ||
        std::memchr(data, 0, static_cast<std::size_t>(size)) != nullptr)
        return false;
    return py::module_::import("os").attr("path").attr("exists")(object).cast<bool>();
}

// A side in pixels as callers give it: an int (NumPy's too, not a float or
// a bool) of the sizes the tool draws, else a TypeError or ValueError that
// says so.
std::uint32_t checkedSide(const py::handle& given) {
    if (py::isinstance<py::bool_>(given) || !PyIndex_Check(given.ptr()))
        throw py::type_error("size must be an int, not " +
                             py::str(py::type::of(given).attr("__name__")).cast<std::string>());
    const py::int_ size = py::reinterpret_steal<py::int_>(PyNumber_Index(given.ptr()));
    if (!size) throw py::error_already_set();
    const long long side = PyLong_AsLongLong(size.ptr());
    if (side == -1 && PyErr_Occurred()) PyErr_Clear();
    if (side < kSmallestShownSide || side > kLargestShownSide)
        throw py::value_error("size must be from " + std::to_string(kSmallestShownSide) + " to " +
                              std::to_string(kLargestShownSide));
    return static_cast<std::uint32_t>(side);
}

// Pixels of red, green, blue and alpha as a NumPy array of (height, width, 4).
py::object rgbaArray(const Image& picture) {
    requireNumpy();
    py::array_t<std::uint8_t> array({picture.height, picture.width, std::uint32_t{4}});
    std::uint8_t* out = array.mutable_data();
    const std::uint8_t* in = picture.bgra.data();
    const py::gil_scoped_release free;
    for (std::size_t p = 0; p < picture.pixelCount(); ++p, in += 4, out += 4) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = in[3];
    }
    return array;
}

py::object bytesOrNone(const std::optional<std::vector<std::uint8_t>>& bytes) {
    if (!bytes) return py::none();
    return py::bytes(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

using SharedSource = std::shared_ptr<const Source>;

// A picture a reader makes that was stopped (an SVG drawing past its time)
// is an error saying why, never None, the answer for a damaged image.
void raiseIfNotMade(const std::vector<IconImage>& images) {
    if (const std::string why = whyNotMade(images); !why.empty())
        throw PackageError{"the picture was not made: " + why};
}

class StoredImage {
public:
    StoredImage(SharedSource source, std::size_t icon, std::size_t image)
        : source_(std::move(source)), icon_(icon), image_(image) {}

    const IconImage& image() const { return source_->icons[icon_].images[image_]; }

    py::object offset() const {
        const auto offset = source_->offsetOf ? source_->offsetOf(image()) : std::nullopt;
        return offset ? py::object(py::int_(*offset)) : py::none();
    }
    std::size_t length() const {
        const py::gil_scoped_release free;
        return imageBytes(image()).size();
    }
    py::object hotspot() const {
        const auto& spot = image().hotSpot;
        return spot ? py::object(py::make_tuple(spot->x, spot->y)) : py::none();
    }
    py::bytes data() const {
        Bytes bytes;
        {
            const py::gil_scoped_release free;
            bytes = imageBytes(image());
        }
        return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    // As `extract --all-sizes` writes it: a stored PNG as it is, a bitmap
    // decoded at its own size and encoded.
    py::object png() const {
        std::optional<std::vector<std::uint8_t>> png;
        {
            const py::gil_scoped_release free;
            const DecodeRequest request(source_->requestPixels);
            if (image().info.png) {
                const Bytes bytes = imageBytes(image());
                const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.data());
                png.emplace(first, first + bytes.size());
            } else if (const auto decoded = source_->decode(image())) {
                png = encodePng(*decoded);
            }
        }
        if (!png) raiseIfNotMade({image()});
        return bytesOrNone(png);
    }
    // Its pixels at its own size, as Icon.rgba() gives an icon's.
    py::object rgba() const {
        requireNumpy();
        std::shared_ptr<const Image> decoded;
        {
            const py::gil_scoped_release free;
            const DecodeRequest request(source_->requestPixels);
            decoded = source_->decode(image());
        }
        if (!decoded) {
            raiseIfNotMade({image()});
            return py::none();
        }
        return rgbaArray(*decoded);
    }
    std::string repr() const {
        const ImageInfo& info = image().info;
        return "<pictrove.StoredImage " + std::to_string(info.width) + "x" + std::to_string(info.height) +
               "x" + std::to_string(info.bits) + (info.png ? " png>" : ">");
    }

private:
    SharedSource source_;
    std::size_t icon_;
    std::size_t image_;
};

class Icon {
public:
    Icon(SharedSource source, std::size_t index) : source_(std::move(source)), index_(index) {}

    const SourceIcon& icon() const { return source_->icons[index_]; }
    std::size_t index() const { return index_; }
    py::object id() const {
        const auto& name = icon().name;
        if (!name) return py::none();
        if (name->id) return py::int_(*name->id);
        return py::str(name->name);
    }
    bool isCursor() const { return isCursorGroup(IconGroup{icon().name, icon().images}); }
    py::list images() const {
        py::list list;
        for (std::size_t i = 0; i < icon().images.size(); ++i) list.append(StoredImage(source_, index_, i));
        return list;
    }
    py::object groupBytes() const {
        std::optional<std::vector<std::uint8_t>> bytes;
        {
            const py::gil_scoped_release free;
            bytes = buildGroupFile(IconGroup{icon().name, icon().images});
        }
        return bytesOrNone(bytes);
    }
    py::object png(const py::object& given) const {
        const std::uint32_t size = checkedSide(given);
        std::optional<std::vector<std::uint8_t>> png;
        {
            const py::gil_scoped_release free;
            const DecodeRequest request(source_->requestPixels);
            if (const auto stored = storedPngShownAt(icon().images, size, source_->decodes)) {
                const auto* first = reinterpret_cast<const std::uint8_t*>(stored->data());
                png.emplace(first, first + stored->size());
            } else if (const auto picture = icon().icon(size)) {
                png = encodePng(*picture);
            }
        }
        if (!png) raiseIfNotMade(icon().images);
        return bytesOrNone(png);
    }
    py::object rgba(const py::object& given) const {
        const std::uint32_t size = checkedSide(given);
        requireNumpy();
        std::optional<Image> picture;
        {
            const py::gil_scoped_release free;
            const DecodeRequest request(source_->requestPixels);
            picture = icon().icon(size);
        }
        if (!picture) {
            raiseIfNotMade(icon().images);
            return py::none();
        }
        return rgbaArray(*picture);
    }
    py::object dhash() const {
        std::optional<std::uint64_t> hash;
        {
            const py::gil_scoped_release free;
            const DecodeRequest request(source_->requestPixels);
            hash = iconDhash(icon());
        }
        if (!hash) raiseIfNotMade(icon().images);
        return hash ? py::object(py::int_(*hash)) : py::none();
    }
    py::object groupSha256() const {
        std::optional<std::string> digest;
        {
            const py::gil_scoped_release free;
            digest = pictrove::groupSha256(icon());
        }
        return digest ? py::object(py::str(*digest)) : py::none();
    }
    std::string repr() const {
        return "<pictrove.Icon " + std::to_string(index_) + " id=" + py::repr(id()).cast<std::string>() + ">";
    }
    // One icon of one opened source, however many Icon objects stand for it.
    bool operator==(const Icon& other) const { return source_ == other.source_ && index_ == other.index_; }
    std::size_t hash() const { return std::hash<const void*>()(source_.get()) * 31 + index_; }

private:
    SharedSource source_;
    std::size_t index_;
};

class IconSource {
public:
    IconSource(SharedSource source, py::object path) : source_(std::move(source)), path_(std::move(path)) {}

    // The source while open; ValueError after close(), as a closed file gives.
    const SharedSource& source() const {
        if (!source_) throw py::value_error("I/O operation on a closed icon source");
        return source_;
    }
    std::size_t size() const { return source()->icons.size(); }
    Icon at(std::ptrdiff_t index) const {
        const auto count = static_cast<std::ptrdiff_t>(size());
        if (index < 0) index += count;
        if (index < 0 || index >= count) throw py::index_error("icon index out of range");
        return Icon(source(), static_cast<std::size_t>(index));
    }
    py::list slice(const py::slice& range) const {
        std::size_t start = 0, stop = 0, step = 0, length = 0;
        if (!range.compute(size(), &start, &stop, &step, &length)) throw py::error_already_set();
        py::list icons;
        for (std::size_t i = 0; i < length; ++i, start += step) icons.append(Icon(source(), start));
        return icons;
    }
    py::iterator iterate() const {
        py::list icons;
        for (std::size_t i = 0; i < size(); ++i) icons.append(Icon(source(), i));
        return py::iter(icons);
    }
    std::string kind() const { return source()->kind; }
    py::object redirectedTo() const {
        const std::string& to = source()->redirectedTo;
        if (to.empty()) return py::none();
        return py::module_::import("os").attr("fsdecode")(py::bytes(to));
    }
    py::object damage() const {
        const std::string& damage = source()->damage;
        return damage.empty() ? py::none() : py::object(py::str(damage));
    }
    const py::object& path() const { return path_; }
    // Icons taken before keep what was read of the file; the file itself
    // is closed now, not when the last of them goes.
    void close() {
        if (source_) source_->release();
        source_.reset();
    }
    bool closed() const { return !source_; }
    std::string repr() const {
        if (!source_) return "<pictrove.IconSource closed>";
        return "<pictrove.IconSource " + py::repr(path_).cast<std::string>() + " " + source_->kind + ", " +
               std::to_string(source_->icons.size()) + " icons>";
    }

private:
    SharedSource source_;
    py::object path_;
};

// Bytes of no kind the engine reads are no icon source: the tool lists them
// with no icons and says no more; a Python caller gets a FormatError. An
// executable without icons is a source all the same, of none.
SharedSource readable(Result<Source>& source, const std::string& name) {
    if (!source) fail(source.error());
    if (source->kind == sourceKindName(SourceKind::none))
        fail(Error{ErrorCode::invalidFormat,
                   name.empty() ? "Not an icon source" : "Not an icon source: " + name});
    return std::make_shared<const Source>(std::move(*source));
}

IconSource openSource(const py::object& object, bool cursors) {
    Result<Source> source = Error{ErrorCode::invalidFormat, ""};
    const GroupKind kind = cursors ? GroupKind::cursors : GroupKind::icons;
    if (isPath(object)) {
        const std::string path = pathBytes(object);
        {
            const py::gil_scoped_release free;
            source = pictrove::openSource(path, ".ics", kind);
        }
        return IconSource(readable(source, path), py::module_::import("os").attr("fspath")(object));
    }
    if (!PyObject_CheckBuffer(object.ptr()))
        throw py::type_error("open() takes a path (str, os.PathLike) or a bytes-like object, not " +
                             py::str(py::type::of(object).attr("__name__")).cast<std::string>());
    Bytes bytes;
    auto pinned = pinBuffer(object, bytes);
    {
        const py::gil_scoped_release free;
        source = openUnnamedSource(MappedFile::fromBorrowed(bytes, std::move(pinned)), ".ics", kind);
    }
    if (source && source->kind == sourceKindName(SourceKind::none) && namesFile(object))
        fail(Error{ErrorCode::invalidFormat,
                   "Not an icon source: bytes are read as the content of a file, not as its name; give "
                   "a path as str or os.PathLike (os.fsdecode(name), pathlib.Path(name))"});
    return IconSource(readable(source, ""), py::none());
}

py::object scan(const py::object& given, bool allIcons, const py::object& thumbnailSide) {
    std::optional<std::uint32_t> thumbnail;
    if (!thumbnailSide.is_none()) thumbnail = checkedSide(thumbnailSide);
    const ScanSettings settings{allIcons, std::nullopt, ".ics", thumbnail};
    ScanRecord record;
    if (isPath(given)) {
        const std::string file = pathBytes(given);
        const py::gil_scoped_release free;
        record = scanRecord(file, settings);
    } else if (PyObject_CheckBuffer(given.ptr())) {
        // Content, as open() takes it: the record has no "file".
        Bytes bytes;
        auto pinned = pinBuffer(given, bytes);
        const py::gil_scoped_release free;
        record = scanContent(MappedFile::fromBorrowed(bytes, std::move(pinned)), settings);
    } else {
        throw py::type_error("scan() takes a path (str, os.PathLike) or a bytes-like object, not " +
                             py::str(py::type::of(given).attr("__name__")).cast<std::string>());
    }
    return py::module_::import("json").attr("loads")(py::bytes(record.line));
}

// The difference hash of `width` x `height` pixels of red, green, blue and
// alpha, a byte each, top row first.
std::uint64_t dhashOfRgba(const py::buffer& pixels, std::uint32_t width, std::uint32_t height) {
    const py::buffer_info info = pixels.request();
    const auto size = static_cast<std::uint64_t>(info.size) * static_cast<std::uint64_t>(info.itemsize);
    if (width == 0 || height == 0 || size / 4 / width != height || size != std::uint64_t{width} * height * 4)
        throw py::value_error("the pixels are not " + std::to_string(width) + " x " + std::to_string(height) +
                              " x 4 bytes");
    const py::gil_scoped_release free;
    Image image;
    image.width = width;
    image.height = height;
    image.hasAlpha = true;
    image.bgra.resize(static_cast<std::size_t>(size));
    const auto* in = static_cast<const std::uint8_t*>(info.ptr);
    for (std::size_t p = 0; p < image.bgra.size(); p += 4) {
        image.bgra[p] = in[p + 2];
        image.bgra[p + 1] = in[p + 1];
        image.bgra[p + 2] = in[p];
        image.bgra[p + 3] = in[p + 3];
    }
    return differenceHash(image);
}

// --- corpora: the look-alike index, its searches and families ------------

py::object jsonObject(const nlohmann::ordered_json& json) {
    return py::module_::import("json").attr("loads")(py::bytes(jsonLine(json)));
}

// How families are found, as clusters and report take it: the checks of
// their options, as the tool makes them.
template <class Settings>
Settings familySettings(int radius, std::size_t minSize, bool allIcons, std::size_t jobs) {
    if (radius < 0 || radius > 64) throw py::value_error("radius must be from 0 to 64");
    if (minSize < 1) throw py::value_error("min_size must be at least 1");
    Settings settings;
    settings.radius = radius;
    settings.minSize = minSize;
    settings.allIcons = allIcons;
    settings.jobs = std::max<std::size_t>(jobs, 1);
    return settings;
}

// An index file, mapped, or one built in memory; its searches answer as
// similar --index and clusters do.
class Index {
public:
    Index(corpus::CorpusIndex index, std::string name, std::size_t skipped)
        : index_(std::make_shared<corpus::CorpusIndex>(std::move(index))),
          name_(std::move(name)),
          skipped_(skipped) {}

    static Index open(const py::object& path) {
        const std::string name = pathBytes(path);
        Result<corpus::CorpusIndex> index = Error{ErrorCode::invalidFormat, ""};
        {
            const py::gil_scoped_release free;
            index = corpus::CorpusIndex::open(std::filesystem::path(name));
        }
        if (!index) fail(index.error());
        return Index(std::move(*index), name, 0);
    }

    std::size_t size() const { return index_->entries(); }
    std::size_t records() const { return index_->records(); }
    std::size_t skipped() const { return skipped_; }
    void setSkipped(std::size_t skipped) { skipped_ = skipped; }
    bool keepsGroups() const { return index_->keepsGroups(); }

    py::list similar(std::uint64_t hash, int maxDistance, bool allIcons) const {
        if (maxDistance < 0 || maxDistance > 64) throw py::value_error("max_distance must be from 0 to 64");
        std::optional<std::vector<corpus::Match>> found;
        {
            const py::gil_scoped_release free;
            found = corpus::matchesNear(*index_, hash, maxDistance, allIcons);
        }
        return listOf(found);
    }

    py::list group(const std::string& sha256, bool allIcons) const {
        if (!corpus::parseSha256(sha256)) throw py::value_error("a group hash is 64 hexadecimal digits");
        if (!index_->keepsGroups())
            throw PackageError{"the index " + name_ + " was built without the group hashes"};
        std::optional<std::vector<corpus::Match>> found;
        {
            const py::gil_scoped_release free;
            found = corpus::matchesOfGroup(*index_, sha256, allIcons);
        }
        return listOf(found);
    }

    // The families as clusters prints them, one JSON text each, largest
    // first: the package reads them one at a time.
    std::vector<std::string> clusters(int radius, std::size_t minSize, bool allIcons,
                                      std::size_t jobs) const {
        const auto settings = familySettings<corpus::ClusterSettings>(radius, minSize, allIcons, jobs);
        std::vector<std::string> lines;
        bool sound = false;
        {
            const py::gil_scoped_release free;
            sound = corpus::forEachCluster(*index_, settings, [&](const corpus::Cluster& cluster) {
                lines.push_back(jsonLine(corpus::clusterJson(cluster)));
            });
        }
        if (!sound) damaged();
        return lines;
    }

private:
    [[noreturn]] void damaged() const { throw PackageError{"the index " + name_ + " is damaged"}; }

    py::list listOf(const std::optional<std::vector<corpus::Match>>& found) const {
        if (!found) damaged();
        py::list out;
        for (const corpus::Match& match : *found) out.append(jsonObject(corpus::matchJson(match)));
        return out;
    }

    std::shared_ptr<const corpus::CorpusIndex> index_;
    std::string name_;
    std::size_t skipped_;
};

// Hands `record` every record line of the records file at `path`, as the
// tool reads a records file; returns how many lines were no scan record.
std::size_t addRecordsFile(const py::object& path, const std::function<bool(std::string_view)>& record) {
    const std::string name = pathBytes(path);
    RecordLineCounts counts;
    bool read = false;
    int error = 0;
    {
        const py::gil_scoped_release free;
        if (std::FILE* records = std::fopen(name.c_str(), "rb")) {
            read = forEachRecordLine(
                records, record, [](std::size_t) {}, counts);
            error = errno;
            std::fclose(records);
        } else {
            error = errno;
        }
    }
    if (!read) {
        Error failure{ErrorCode::readFailed, "cannot read " + name + ": " + std::strerror(error)};
        failure.systemError = error;
        failure.path = name;
        fail(failure);
    }
    return counts.faults;
}

// Record lines handed to `Target` (an index's or a page's builder), one by
// one or a records file at a time, counting those that were no record.
template <class Target>
class RecordLines {
public:
    bool add(const std::string& line) {
        const bool taken = target_.addLine(line);
        skipped_ += !taken;
        return taken;
    }
    void addFile(const py::object& path) {
        skipped_ += addRecordsFile(path, [&](std::string_view line) { return target_.addLine(line); });
    }

protected:
    template <class... Given>
    explicit RecordLines(Given&&... given) : target_(std::forward<Given>(given)...) {}

    Target target_;
    std::size_t skipped_ = 0;
};

// Record lines gathered for an index, as pictrove-cli index takes them.
class IndexBuilder : public RecordLines<corpus::IndexBuilder> {
public:
    explicit IndexBuilder(bool keepGroups) : RecordLines(keepGroups) {}

    // Written to `path` whole or not at all; the index is then opened there.
    Index write(const py::object& path) {
        const std::string name = pathBytes(path);
        {
            const py::gil_scoped_release free;
            const auto image = target_.finish();
            if (!image) fail(image.error());
            const std::span bytes(reinterpret_cast<const std::uint8_t*>(image->data()), image->size());
            if (const auto error = saveFile(std::filesystem::path(name), bytes)) fail(*error);
        }
        Index index = Index::open(path);
        index.setSkipped(skipped_);
        return index;
    }

    // The index in memory, for one search or the families of the records.
    Index inMemory() {
        Result<corpus::CorpusIndex> index = Error{ErrorCode::invalidFormat, ""};
        {
            const py::gil_scoped_release free;
            auto image = target_.finish();
            if (!image) fail(image.error());
            index = corpus::CorpusIndex::fromBytes(std::move(*image));
        }
        if (!index) fail(index.error());
        return Index(std::move(*index), "in memory", skipped_);
    }
};

// Record lines gathered for the page of their families, as pictrove-cli
// report writes it.
class ReportBuilder : public RecordLines<corpus::ReportBuilder> {
public:
    ReportBuilder() = default;

    // Returns how many lines were no scan record.
    std::size_t write(const py::object& path, int radius, std::size_t minSize, bool allIcons,
                      std::size_t jobs) {
        const auto settings = familySettings<corpus::ReportSettings>(radius, minSize, allIcons, jobs);
        const std::string name = pathBytes(path);
        std::optional<Error> error;
        {
            const py::gil_scoped_release free;
            error = target_.write(std::filesystem::path(name), settings);
        }
        if (error) fail(*error);
        return skipped_;
    }
};

py::handle newError(const char* name, const char* doc, py::handle bases) {
    PyObject* type = PyErr_NewExceptionWithDoc(name, doc, bases.ptr(), nullptr);
    if (!type) throw py::error_already_set();
    return type;  // kept for the life of the process
}

}  // namespace
}  // namespace pictrove::python

PYBIND11_MODULE(_pictrove, m) {
    using namespace pictrove::python;
    m.doc() = "The Pictrove engine; use the package pictrove.";

    errorType =
        newError("pictrove.Error", "What pictrove raises for a source it cannot read.", PyExc_Exception);
    fileErrorType = newError("pictrove.FileError", "A file that cannot be opened or read (an OSError).",
                             py::make_tuple(errorType, py::handle(PyExc_OSError)));
    formatErrorType = newError("pictrove.FormatError", "Bytes that are no icon source (a ValueError).",
                               py::make_tuple(errorType, py::handle(PyExc_ValueError)));
    m.attr("Error") = errorType;
    m.attr("FileError") = fileErrorType;
    m.attr("FormatError") = formatErrorType;
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const EngineError& e) {
            using pictrove::ErrorCode;
            const ErrorCode code = e.error.code;
            const bool unreadable = code == ErrorCode::cannotOpen || code == ErrorCode::readFailed ||
                                    code == ErrorCode::cannotCreate || code == ErrorCode::writeFailed;
            if (!unreadable) return PyErr_SetString(formatErrorType.ptr(), e.error.message.c_str());
            // An OSError, with what OSError tells: the error number and the file.
            py::object error = fileErrorType(e.error.message);
            if (e.error.systemError) {
                error.attr("errno") = e.error.systemError;
                error.attr("strerror") = std::strerror(e.error.systemError);
            }
            if (!e.error.path.empty())
                error.attr("filename") = py::module_::import("os").attr("fsdecode")(py::bytes(e.error.path));
            PyErr_SetObject(fileErrorType.ptr(), error.ptr());
        } catch (const pictrove::ModuleError& e) {  // never another picture in its place
            PyErr_SetString(errorType.ptr(), e.what());
        } catch (const pictrove::DecodeBudgetPassed& e) {  // never None, the answer for a damaged image
            PyErr_SetString(errorType.ptr(), e.what());
        } catch (const pictrove::FileReleased&) {
            PyErr_SetString(errorType.ptr(),
                            "the icon source was closed before this was read from its file: keep it open "
                            "until its icons have given what they are asked for");
        } catch (const PackageError& e) {
            PyErr_SetString(errorType.ptr(), e.message.c_str());
        }
    });

    py::class_<StoredImage>(m, "StoredImage", "One image of an icon as the file stores it.")
        .def_property_readonly("width", [](const StoredImage& s) { return s.image().info.width; })
        .def_property_readonly("height", [](const StoredImage& s) { return s.image().info.height; })
        .def_property_readonly(
            "bits", [](const StoredImage& s) { return s.image().info.bits; },
            "Bits per pixel; PNG images count as 32.")
        .def_property_readonly("is_png", [](const StoredImage& s) { return s.image().info.png; })
        .def_property_readonly("offset", &StoredImage::offset,
                               "Where the image's bytes start in the file, or None where that is not known.")
        .def_property_readonly("length", &StoredImage::length, "How many bytes data() gives.")
        .def_property_readonly("hotspot", &StoredImage::hotspot, "(x, y) for a cursor's image, else None.")
        .def("data", &StoredImage::data, "The image's stored bytes: a bitmap without file header, or a PNG.")
        .def("rgba", &StoredImage::rgba,
             "The image at its own size as a numpy uint8 array of shape (height, width, 4), red, green, "
             "blue, alpha; None when it cannot be decoded.")
        .def("png", &StoredImage::png,
             "The image as a PNG at its own size, as extract --all-sizes writes it; None when it cannot "
             "be decoded, pictrove.Error when it is a drawing that its limits stopped.")
        .def("__repr__", &StoredImage::repr);

    py::class_<Icon>(m, "Icon", "One icon (or cursor) of a source: a group of stored images.")
        .def_property_readonly("index", &Icon::index, "The icon's place in its source, from 0.")
        .def_property_readonly("id", &Icon::id,
                               "The group's resource ID (an int), its name (a str), or None for a file that "
                               "is one icon.")
        .def_property_readonly("is_cursor", &Icon::isCursor, "True when every image carries a hot spot.")
        .def_property_readonly("images", &Icon::images, "The stored images, in directory order.")
        .def("group_bytes", &Icon::groupBytes,
             "The whole group as an .ico (or .cur) file, byte for byte what extract --group-ico writes; "
             "None for a group without images or one too large.")
        .def("png", &Icon::png, py::arg("size") = 32,
             "The icon chosen and scaled for size x size (8 to 1024) as a PNG, byte for byte what "
             "extract --size writes; None when it cannot be decoded; pictrove.Error when a drawing (an SVG "
             "icon) was stopped by its limits.")
        .def("rgba", &Icon::rgba, py::arg("size") = 32,
             "The icon at size x size as a numpy uint8 array of shape (size, size, 4), red, green, blue, "
             "alpha; None when it cannot be decoded; pictrove.Error when a drawing (an SVG icon) was stopped "
             "by its limits.")
        .def("dhash", &Icon::dhash,
             "The difference hash of the icon at 32 x 32 (an int), the scan record's dhash; None when "
             "it cannot be decoded; pictrove.Error when a drawing (an SVG icon) was stopped by its limits.")
        .def("group_sha256", &Icon::groupSha256,
             "The SHA-256 of group_bytes() in hexadecimal, the scan record's group_sha256.")
        .def("__eq__",
             [](const Icon& a, const py::object& b) {
                 return py::isinstance<Icon>(b) ? py::bool_(a == b.cast<const Icon&>())
                                                : py::reinterpret_borrow<py::object>(Py_NotImplemented);
             })
        .def("__hash__", &Icon::hash)
        .def("__repr__", &Icon::repr);

    py::class_<IconSource>(m, "IconSource",
                           "The icons of one file or buffer: a sequence of Icon and a context manager.")
        .def("__len__", &IconSource::size)
        .def("__getitem__", &IconSource::at, py::arg("index"))
        .def("__getitem__", &IconSource::slice, py::arg("range"))
        .def("__iter__", &IconSource::iterate)
        .def_property_readonly(
            "kind", &IconSource::kind,
            "What the source is: PE32, PE32+, NE, ICO, CUR, ANI, ELF, ICNS, MSI, APPX, AppImage or "
            "collection.")
        .def_property_readonly("redirected_to", &IconSource::redirectedTo,
                               "The .mun file a system library's icons came from, else None.")
        .def_property_readonly("path", &IconSource::path, "The path given to open(); None for a buffer.")
        .def_property_readonly("damage", &IconSource::damage,
                               "What of the file is damaged when its icons are only the intact part of "
                               "it (an executable cut short), else None.")
        .def_property_readonly("closed", &IconSource::closed)
        .def("close", &IconSource::close,
             "Closes the file. Icons taken before still give what was read of it; what needs more of the "
             "file raises Error.")
        .def("__enter__", [](IconSource& self) -> IconSource& { return self; })
        .def("__exit__", [](IconSource& self, const py::args&) { self.close(); })
        .def("__repr__", &IconSource::repr);

    // Shown as the package's own, where users meet them.
    for (const char* name : {"StoredImage", "Icon", "IconSource"})
        m.attr(name).attr("__module__") = "pictrove";

    m.def("open", &openSource, py::arg("source"), py::kw_only(), py::arg("cursors") = false,
          "Opens a path (str, os.PathLike) or the content of a file as a bytes-like object (bytes, "
          "bytearray, memoryview, mmap), read where it lies; cursors=True takes an executable's cursors "
          "instead of its icons, as list --cursors. Raises FileError for a file that cannot be read "
          "and FormatError for bytes that are no icon source.");
    m.def("scan", &scan, py::arg("source"), py::arg("all_icons") = false, py::arg("thumbnail") = py::none(),
          "The record pictrove-cli scan writes for a path, as a dict; thumbnail=N as scan --thumbnail N. "
          "Of a bytes-like object, the record of that content, without \"file\".");
    py::class_<Index>(m, "Index",
                      "A look-alike index that pictrove-cli index or build_index() wrote, mapped (or one "
                      "built in memory). len() is its number of icons.")
        .def(py::init(&Index::open), py::arg("path"))
        .def("__len__", &Index::size)
        .def_property_readonly("records", &Index::records, "How many scan records it was built of.")
        .def_property_readonly("skipped", &Index::skipped,
                               "How many of the lines it was built from were no scan record.")
        .def_property_readonly("keeps_groups", &Index::keepsGroups,
                               "Whether it holds the group hashes (not built with groups=False).")
        .def("_similar", &Index::similar, py::arg("dhash"), py::arg("max_distance"), py::arg("all_icons"))
        .def("group", &Index::group, py::arg("sha256"), py::arg("all_icons") = false,
             "The icons whose group hash is sha256 (64 hex digits), as similar --index --group lists them.")
        .def("_clusters", &Index::clusters, py::arg("radius"), py::arg("min_size"), py::arg("all_icons"),
             py::arg("jobs"));
    py::class_<IndexBuilder>(m, "_IndexBuilder")
        .def(py::init<bool>(), py::arg("groups"))
        .def("add", &IndexBuilder::add, py::arg("line"))
        .def("add_file", &IndexBuilder::addFile, py::arg("path"))
        .def("write", &IndexBuilder::write, py::arg("path"))
        .def("in_memory", &IndexBuilder::inMemory);
    py::class_<ReportBuilder>(m, "_ReportBuilder")
        .def(py::init<>())
        .def("add", &ReportBuilder::add, py::arg("line"))
        .def("add_file", &ReportBuilder::addFile, py::arg("path"))
        .def("write", &ReportBuilder::write, py::arg("path"), py::arg("radius"), py::arg("min_size"),
             py::arg("all_icons"), py::arg("jobs"));
    m.attr("Index").attr("__module__") = "pictrove";

    m.attr("__version__") = PICTROVE_VERSION;
    m.def("_dhash_rgba", &dhashOfRgba, py::arg("pixels"), py::arg("width"), py::arg("height"));
}
