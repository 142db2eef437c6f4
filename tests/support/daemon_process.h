// Runs velkd-sim as a child process for end-to-end tests, inside the test's
// private /tmp, and captures what it logs.
#pragma once

#include <signal.h>

#include <array>
#include <string>
#include <vector>

#include "process_runner.h"

namespace velkd::test {

// Writes a file the tests hand to the daemon into /tmp; its path.
std::string write_file(const std::string& name, const std::string& text);

// velkd-sim with these arguments (plus --ready-fd), waited for until it serves
// (ready() tells whether it got there); stopped with SIGTERM at the end.
// stop() gives the exit code (-1 if a signal ended it), log() its stderr.
class DaemonProcess : public vdfe::test::Process {
public:
    explicit DaemonProcess(std::vector<std::string> args = {}) : DaemonProcess(std::move(args), open_pipe()) {}
    ~DaemonProcess() { stop(SIGTERM); }

    bool ready() const { return ready_; }
    void signal(int signo) const { ::kill(pid(), signo); }
    std::string log() const { return err(); }
    // Waits (bounded) until the log contains `text`.
    bool wait_for_log(const std::string& text) const;
    static std::array<int, 2> open_pipe();

private:
    DaemonProcess(std::vector<std::string> args, std::array<int, 2> ready_pipe);
    bool ready_ = false;
};

// Runs the daemon expecting it to exit on its own (bad description, socket
// refused): its exit code, stdout and stderr.
vdfe::test::Result run_to_exit(const std::vector<std::string>& args);

} // namespace velkd::test
