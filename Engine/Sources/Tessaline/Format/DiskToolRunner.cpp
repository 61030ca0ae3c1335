#include "Tessaline/Format/DiskToolRunner.hpp"

#include "Tessaline/Support/UniqueFd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessaline {

namespace {

// Owns posix_spawn's file actions.
class SpawnActions {
public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

bool makePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

// Reads both pipes until each reaches end of file, whichever has data first.
void drainTogether(UniqueFd& out, UniqueFd& err, std::string& outText, std::string& errText) {
    char buffer[65536];
    while (out || err) {
        pollfd fds[2];
        int count = 0;
        int outIndex = -1, errIndex = -1;
        if (out) {
            outIndex = count;
            fds[count++] = {out.get(), POLLIN, 0};
        }
        if (err) {
            errIndex = count;
            fds[count++] = {err.get(), POLLIN, 0};
        }
        if (poll(fds, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto pump = [&](int index, UniqueFd& fd, std::string& text) {
            if (index < 0 || fds[index].revents == 0) return;
            ssize_t n = read(fd.get(), buffer, sizeof buffer);
            if (n > 0)
                text.append(buffer, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                fd.reset();
        };
        pump(outIndex, out, outText);
        pump(errIndex, err, errText);
    }
}

}  // namespace

ToolRun runDiskToolProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    ToolRun run;
    run.program = program;
    if (!program.is_absolute()) {
        run.launchError = ENOENT;
        return run;
    }
    UniqueFd outRead, outWrite, errRead, errWrite;
    if (!makePipe(outRead, outWrite) || !makePipe(errRead, errWrite)) {
        run.launchError = errno;
        return run;
    }
    SpawnActions actions;
    if (!actions.ok()) {
        run.launchError = ENOMEM;
        return run;
    }
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), 1);
    posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), 2);

    std::vector<std::string> argvText;
    argvText.reserve(arguments.size() + 1);
    argvText.push_back(program.native());
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string pathVar = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    std::string localeVar = "LC_ALL=C.UTF-8";
    char* envp[] = {pathVar.data(), localeVar.data(), nullptr};

    pid_t pid = -1;
    int spawnError = posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), envp);
    outWrite.reset();
    errWrite.reset();
    if (spawnError != 0) {
        run.launchError = spawnError;
        return run;
    }
    drainTogether(outRead, errRead, run.standardOutput, run.standardError);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            run.signal = SIGKILL;  // cannot tell what happened: never report success
            return run;
        }
    }
    if (WIFEXITED(status))
        run.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

}  // namespace tessaline
