// Errors as values: the core reports what went wrong and lets the caller
// decide whether it is worth a message.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace pictrove {

enum class ErrorCode {
    cannotOpen,     // the file does not exist, is a folder, or may not be read
    readFailed,     // the system failed while reading it
    invalidFormat,  // the bytes are not what they claim to be
    cannotCreate,   // a file could not be created where it was asked for
    writeFailed,    // the system failed while writing
};

struct Error {
    ErrorCode code;
    std::string message;
    int systemError = 0;    // the system's error number, where it said why
    std::string path = {};  // the file it concerns, where one does (UTF-8)
};

template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<T>(state_); }
    const T& value() const { return std::get<T>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<Error>(state_); }

private:
    std::variant<T, Error> state_;
};

}  // namespace pictrove
