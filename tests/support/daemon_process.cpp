#include "daemon_process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace velkd::test {
std::string write_file(const std::string& name, const std::string& text) {
    std::string path = "/tmp/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::array<int, 2> DaemonProcess::open_pipe() {
    std::array<int, 2> ends{-1, -1};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) ends = {-1, -1};
    return ends;
}

// The pipe's write end goes to the daemon as --ready-fd; it writes a line
// there once it serves.
DaemonProcess::DaemonProcess(std::vector<std::string> args, std::array<int, 2> pipe)
    : Process(VELKD_SIM_PATH, (args.insert(args.end(), {"--ready-fd", std::to_string(pipe[1])}), args), pipe[1]) {
    ::close(pipe[1]);
    char line[16] = {};
    pollfd wait{pipe[0], POLLIN, 0};
    if (started() && pipe[0] >= 0 && ::poll(&wait, 1, 60000) == 1) ready_ = ::read(pipe[0], line, sizeof line - 1) > 0;
    ::close(pipe[0]);
}

bool DaemonProcess::wait_for_log(const std::string& text) const {
    for (int i = 0; i < 2000; ++i) {
        if (log().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

vdfe::test::Result run_to_exit(const std::vector<std::string>& args) {
    return vdfe::test::run_program(VELKD_SIM_PATH, args, std::chrono::seconds(30));
}

} // namespace velkd::test
