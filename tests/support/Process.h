// Running programs from tests: a run to the end that collects both outputs and the exit status,
// and a background child (a simulator on a pseudo-terminal) whose first output line is read.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace korvel::test {

// The child's id, or -1; standard input from /dev/null.
inline pid_t spawn(std::vector<std::string> args, int out, int err) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_adddup2(&fa, err, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

/// The exit status of `pid`, -1 when it did not exit normally.
inline int reap(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                             : -1;
}

struct RunResult {
    int status = -1;  // -1 when the child did not exit normally
    std::string out, err;
};

/// Runs `args` to its end, its outputs going to unnamed files so that neither fills up.
inline RunResult run(std::vector<std::string> args) {
    const int fds[2] = {::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600),
                        ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)};
    RunResult r;
    r.status = reap(spawn(std::move(args), fds[0], fds[1]));
    char buf[4096];
    for (int i = 0; i < 2; ::close(fds[i++]))
        for (ssize_t n, at = 0; (n = ::pread(fds[i], buf, sizeof buf, at)) > 0; at += n)
            (i ? r.err : r.out).append(buf, static_cast<std::size_t>(n));
    return r;
}

/// A child left running with its standard output on a pipe, stopped when the object goes.
class Background {
  public:
    explicit Background(std::vector<std::string> args) {
        int p[2] = {-1, -1};
        if (::pipe2(p, O_CLOEXEC) == 0) pid_ = spawn(std::move(args), p[1], 2);
        ::close(p[1]);
        out_ = p[0];
    }
    ~Background() {
        stop();
        ::close(out_);
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    /// The first line of standard output, waiting at most `ms` for each byte; "" if none came.
    std::string firstLine(int ms) {
        std::string got;
        pollfd p{out_, POLLIN, 0};
        for (char c; ::poll(&p, 1, ms) > 0 && ::read(out_, &c, 1) == 1; got += c)
            if (c == '\n') return got;
        return "";
    }

    /// Sends SIGTERM and returns the exit status (-1 when it did not exit normally).
    int stop() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        return reap(std::exchange(pid_, -1));
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

}  // namespace korvel::test
