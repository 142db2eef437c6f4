#include "daemon_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace velkd::test {

std::string write_file(const std::string& name, const std::string& text) {
    std::string path = "/tmp/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

DaemonProcess::DaemonProcess(std::vector<std::string> args) {
    int ready_pipe[2] = {-1, -1};
    if (::pipe2(ready_pipe, O_CLOEXEC) == 0) {
        args.push_back("--ready-fd");
        args.push_back(std::to_string(ready_pipe[1]));
    }
    child_ = std::make_unique<vdfe::test::Process>(VELKD_SIM_PATH, args, ready_pipe[1]);
    if (ready_pipe[0] < 0) return;
    ::close(ready_pipe[1]);
    char line[16] = {};
    pollfd wait{ready_pipe[0], POLLIN, 0};
    if (child_->started() && ::poll(&wait, 1, 60000) == 1) ready_ = ::read(ready_pipe[0], line, sizeof line - 1) > 0;
    ::close(ready_pipe[0]);
}

DaemonProcess::~DaemonProcess() { child_->stop(SIGTERM); }

void DaemonProcess::signal(int signo) const { ::kill(child_->pid(), signo); }

bool DaemonProcess::wait_for_log(const std::string& text) const {
    for (int i = 0; i < 2000; ++i) {
        if (log().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Exit run_to_exit(const std::vector<std::string>& args) {
    vdfe::test::Result run = vdfe::test::run_program(VELKD_SIM_PATH, args, std::chrono::seconds(30));
    return {run.code, run.err, run.out};
}

} // namespace velkd::test
