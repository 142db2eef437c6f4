// Starts a daemon that says when it serves (velkd-sim's --ready-fd): the
// benchmarks' way to run one, without the tests' process bookkeeping.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace vdfe::test {

// Runs `program args... --ready-fd N` and waits up to `timeout_ms` for its
// "ready" line: the child's pid, or -1 when it did not come up in time (the
// child is then killed and reaped).
inline pid_t spawn_ready(const std::string& program, std::vector<std::string> args, int timeout_ms) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    args.insert(args.begin(), program);
    args.insert(args.end(), {"--ready-fd", std::to_string(ready[1])});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    ::close(ready[1]);
    char line[8];
    pollfd wait{ready[0], POLLIN, 0};
    bool up = pid > 0 && ::poll(&wait, 1, timeout_ms) == 1 && ::read(ready[0], line, sizeof line) > 0;
    ::close(ready[0]);
    if (up) return pid;
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return -1;
}

} // namespace vdfe::test
