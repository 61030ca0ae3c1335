#pragma once
// Runs one disk-tool program (findmnt, lsblk, blkid, umount, mkfs...) as a child process: by
// absolute path, with an argument vector and no shell, standard input from /dev/null, and
// standard output and standard error drained together so that neither pipe can fill up and
// stall the child. Blocks the calling thread until the child has exited; safe on any thread.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tessaline {

// What one run of a program produced.
struct ToolRun {
    std::filesystem::path program;  // the program that was started (or could not be)
    int launchError = 0;            // errno when the program could not be started; 0 when it ran
    int exitStatus = -1;            // the exit status when it exited normally
    int signal = 0;                 // the signal number when a signal ended it
    std::string standardOutput;
    std::string standardError;

    bool succeeded() const { return launchError == 0 && signal == 0 && exitStatus == 0; }
};

// The seam through which the engine runs disk tools; tests substitute canned answers.
using DiskToolRunner =
    std::function<ToolRun(const std::filesystem::path& program, const std::vector<std::string>& arguments)>;

// The real runner: posix_spawn of `program` (which must be absolute; a relative one is not
// started and reports ENOENT) with `arguments` after argv[0], the environment reduced to
// PATH and LC_ALL=C.UTF-8 so messages are English and names keep their UTF-8. Never throws
// for the child's failures: they are in the returned ToolRun.
ToolRun runDiskToolProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments);

}  // namespace tessaline
