// Runs velkd-sim as a child process for end-to-end tests, inside the test's
// private /tmp, and captures what it logs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velkd::test {

// The description file the tests write, and the directory for their files.
std::string write_file(const std::string& name, const std::string& text);

class DaemonProcess {
public:
    // Starts the daemon with these arguments (plus --ready-fd) and waits until
    // it serves. ready() tells whether it got there.
    explicit DaemonProcess(std::vector<std::string> args = {});
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }
    void signal(int signo) const;
    // Sends the signal and returns the exit code (-1 if killed by a signal).
    int stop(int signo);
    // Everything the daemon wrote to stderr so far.
    std::string log() const;
    // Waits (bounded) until the log contains `text`.
    bool wait_for_log(const std::string& text) const;

private:
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string log_file_;
};

struct Exit {
    int code; // exit code, or -1 when it did not exit by itself
    std::string log;
};

// Runs the daemon expecting it to exit on its own (bad description, socket
// refused): its exit code and stderr.
Exit run_to_exit(const std::vector<std::string>& args);

} // namespace velkd::test
