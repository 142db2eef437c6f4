// Runs a program as a child process, as a user or a script would: stdin from
// /dev/null, stdout and stderr into files of the test's private /tmp (no pipe
// to drain), every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vdfe::test {

struct Result {
    int code = -1; // exit code; -1 when it did not exit by itself
    std::string out;
    std::string err;
};

class Process {
public:
    // Starts `program args...`; `keep_fd`, when not -1, stays open in the child.
    Process(const std::string& program, std::vector<std::string> args, int keep_fd = -1);
    ~Process(); // a child still running is killed and reaped
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Waits up to `limit`: the exit code, -1 when a signal ended it, -2 when
    // it still runs.
    int wait(std::chrono::milliseconds limit);
    // Sends `signo`, waits up to `limit`, then kills: the exit code or -1.
    int stop(int signo, std::chrono::milliseconds limit = std::chrono::seconds(30));
    std::string out() const;
    std::string err() const;

private:
    pid_t pid_ = -1;
    std::string out_file_, err_file_;
};

// Runs `program args...` to its end (killed after `limit`).
Result run_program(const std::string& program, const std::vector<std::string>& args,
                   std::chrono::milliseconds limit = std::chrono::seconds(120));

} // namespace vdfe::test
