#pragma once
// Typed errors of file operations. what() is the finished, user-facing sentence.

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tessaline {

// A file or folder the engine writes could not be written. Carries the path and errno.
class FileWriteError : public std::runtime_error {
public:
    FileWriteError(std::filesystem::path path, int error);
    const std::filesystem::path& path() const { return path_; }
    int error() const { return error_; }

private:
    std::filesystem::path path_;
    int error_;
};

// A file could not be opened or read. Carries the path and errno.
class FileReadError : public std::runtime_error {
public:
    FileReadError(std::filesystem::path path, int error);
    // With a reason of our own instead of errno's text ("it is not a regular file").
    FileReadError(std::filesystem::path path, int error, const std::string& reason);
    const std::filesystem::path& path() const { return path_; }
    int error() const { return error_; }

private:
    std::filesystem::path path_;
    int error_;
};

// The system's text for errno (strerror in the C locale): thread-safe, in English whatever
// the process locale.
std::string errnoText(int error);

}  // namespace tessaline
