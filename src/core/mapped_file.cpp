#include "mapped_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pictrove {
namespace {

class BufferStorage final : public MappedFile::Storage {
public:
    explicit BufferStorage(std::vector<std::byte> bytes) : bytes_(std::move(bytes)) {}
    Bytes bytes() const override { return bytes_; }

private:
    std::vector<std::byte> bytes_;
};

Error openError(const std::filesystem::path& path, const std::string& reason) {
    return Error{ErrorCode::cannotOpen, "Cannot open file " + path.string() + ": " + reason};
}

#ifndef _WIN32
class MappedStorage final : public MappedFile::Storage {
public:
    MappedStorage(void* address, std::size_t size) : address_(address), size_(size) {}
    ~MappedStorage() override {
        if (address_) munmap(address_, size_);
    }
    Bytes bytes() const override { return Bytes(static_cast<const std::byte*>(address_), size_); }

private:
    void* address_;
    std::size_t size_;
};
#endif

}  // namespace

MappedFile MappedFile::fromBuffer(std::vector<std::byte> bytes) {
    return MappedFile(std::make_shared<BufferStorage>(std::move(bytes)));
}

#ifndef _WIN32
Result<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return openError(path, std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return openError(path, std::strerror(error));
    }
    // Devices and pipes could hand out endless data; only plain files are read.
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return openError(path, S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file");
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size == 0) {
        ::close(fd);
        return fromBuffer({});
    }
    void* address = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int error = errno;
    ::close(fd);
    if (address == MAP_FAILED) {
        return Error{ErrorCode::readFailed,
                     "Cannot read file " + path.string() + ": " + std::strerror(error)};
    }
    return MappedFile(std::make_shared<MappedStorage>(address, size));
}
#else
Result<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return openError(path, "not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) return openError(path, "cannot be read");
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return openError(path, ec.message());
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (static_cast<std::uint64_t>(in.gcount()) != size) {
        return Error{ErrorCode::readFailed, "Cannot read file " + path.string()};
    }
    return fromBuffer(std::move(bytes));
}
#endif

}  // namespace pictrove
