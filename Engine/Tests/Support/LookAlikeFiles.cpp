#include "Support/LookAlikeFiles.hpp"

#include "Support/TestSandbox.hpp"
#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <stdexcept>
#include <string>

namespace tessaline::testing {

namespace fs = std::filesystem;

void makeLookAlikes(const fs::path& from, const fs::path& to) {
    for (const auto& entry : fs::recursive_directory_iterator(from)) {
        if (!entry.is_regular_file()) continue;
        std::string bytes = readFile(entry.path());
        if (bytes.empty()) throw std::runtime_error("nothing to change in " + entry.path().string());
        bytes[0] = static_cast<char>(~bytes[0]);
        const fs::path copy = to / entry.path().lexically_relative(from);
        writeFile(copy, bytes);
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) != 0) throw std::runtime_error("cannot stat " + entry.path().string());
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::utimensat(AT_FDCWD, copy.c_str(), times, 0) != 0)
            throw std::runtime_error("cannot set the times of " + copy.string());
    }
}

void swapInLookAlikes(const fs::path& root) {
    fs::rename(root / "DCIM", root / ".Trashes/OLD");
    fs::rename(root / ".Trashes/LOOK", root / "DCIM");
}

void swapOutLookAlikes(const fs::path& root) {
    fs::rename(root / "DCIM", root / ".Trashes/LOOK");
    fs::rename(root / ".Trashes/OLD", root / "DCIM");
}

std::string rewriteKeepingStamps(const fs::path& file) {
    struct stat before {};
    if (::stat(file.c_str(), &before) != 0) throw std::runtime_error("cannot stat " + file.string());
    std::string bytes = readFile(file);
    if (bytes.empty()) throw std::runtime_error("nothing to change in " + file.string());
    bytes[bytes.size() / 2] = static_cast<char>(~bytes[bytes.size() / 2]);
    writeFile(file, bytes);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the times of " + file.string());
    return bytes;
}

std::vector<CardFileRecord> provenRecords(const fs::path& root) {
    CardFileSet set = CardFileSet::read(root);
    std::vector<std::string> all;
    for (const auto& record : set.files) all.push_back(record.relative);
    CardFileComparison::readAgain(root, set.files, all);
    return set.files;
}

}  // namespace tessaline::testing
