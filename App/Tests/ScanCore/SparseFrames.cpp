#include "SparseFrames.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <fstream>

namespace brindlecove::testing {

namespace fs = std::filesystem;

void writeSparseFrame(const fs::path& file, const std::string& header, uint64_t number, int64_t size, double when) {
    fs::create_directories(file.parent_path());
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << file;
    const uint64_t tail = number * 0x9e3779b97f4a7c15ull + 1;
    const bool written = ::write(fd, header.data(), header.size()) == ssize_t(header.size()) &&
                         ::pwrite(fd, &tail, sizeof tail, size - off_t(sizeof tail)) == ssize_t(sizeof tail);
    ::close(fd);
    ASSERT_TRUE(written) << file;
    const timeval times[2] = {{time_t(when), 0}, {time_t(when), 0}};
    ASSERT_EQ(::utimes(file.c_str(), times), 0) << file;
}

int64_t processBytesRead() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        int64_t value = 0;
        io >> value;
        if (key == "rchar:") return value;
    }
    return -1;
}

}  // namespace brindlecove::testing
