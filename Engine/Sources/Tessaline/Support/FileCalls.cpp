#include "Tessaline/Support/FileCalls.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace tessaline {

namespace {

class SystemFileCalls final : public FileCalls {
public:
    int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    int fsync(int fd) override { return ::fsync(fd); }
    int close(int fd) override { return ::close(fd); }
    int unlink(const char* path) override { return ::unlink(path); }
    int rename(const char* from, const char* to, unsigned flags) override {
        return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
    }
    int link(const char* from, const char* to) override { return ::link(from, to); }
};

}  // namespace

FileCalls& FileCalls::system() {
    static SystemFileCalls calls;
    return calls;
}

}  // namespace tessaline
