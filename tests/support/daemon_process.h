// Runs velkd-sim as a child process for end-to-end tests, inside the test's
// private /tmp, and captures what it logs.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "process_runner.h"

namespace velkd::test {

// Writes a file the tests hand to the daemon into /tmp; its path.
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
    pid_t pid() const { return child_->pid(); }
    void signal(int signo) const;
    // Sends the signal and returns the exit code (-1 if killed by a signal).
    int stop(int signo) { return child_->stop(signo); }
    // Everything the daemon wrote to stderr so far.
    std::string log() const { return child_->err(); }
    // Waits (bounded) until the log contains `text`.
    bool wait_for_log(const std::string& text) const;

private:
    std::unique_ptr<vdfe::test::Process> child_;
    bool ready_ = false;
};

struct Exit {
    int code; // exit code, or -1 when it did not exit by itself
    std::string log; // stderr
    std::string out; // stdout
};

// Runs the daemon expecting it to exit on its own (bad description, socket
// refused): its exit code, stderr and stdout.
Exit run_to_exit(const std::vector<std::string>& args);

} // namespace velkd::test
