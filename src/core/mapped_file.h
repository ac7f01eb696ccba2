// Read-only view of a whole file. Mapping lets the readers touch only the
// pages that hold the structures and images they actually need.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "byte_reader.h"
#include "result.h"

namespace pictrove {

class MappedFile {
public:
    MappedFile() = default;  // an empty file
    static Result<MappedFile> open(const std::filesystem::path& path);

    // Wraps bytes already in memory (tests, embedded data, clipboard).
    static MappedFile fromBuffer(std::vector<std::byte> bytes);

    Bytes bytes() const { return storage_ ? storage_->bytes() : Bytes(); }

    struct Storage {
        virtual ~Storage() = default;
        virtual Bytes bytes() const = 0;
    };

private:
    explicit MappedFile(std::shared_ptr<const Storage> storage) : storage_(std::move(storage)) {}
    std::shared_ptr<const Storage> storage_;
};

}  // namespace pictrove
