#include "daemon_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace velkd::test {
namespace {

std::atomic<int> g_runs{0};

std::string slurp(const std::string& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Spawns velkd-sim with stderr to `log_file`; `keep_fd` stays open in it.
pid_t spawn(std::vector<std::string> args, const std::string& log_file, int keep_fd) {
    args.insert(args.begin(), VELKD_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (keep_fd >= 0) posix_spawn_file_actions_adddup2(&actions, keep_fd, keep_fd); // clears close-on-exec
    pid_t pid = -1;
    if (posix_spawn(&pid, VELKD_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int exit_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Waits up to `limit` for the child; -2 when it is still running.
int wait_exit(pid_t pid, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return exit_code(status);
        if (std::chrono::steady_clock::now() > deadline) return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string next_log_file() { return "/tmp/velkd-sim-" + std::to_string(++g_runs) + ".log"; }

} // namespace

std::string write_file(const std::string& name, const std::string& text) {
    std::string path = "/tmp/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

DaemonProcess::DaemonProcess(std::vector<std::string> args) : log_file_(next_log_file()) {
    int ready_pipe[2];
    if (::pipe2(ready_pipe, O_CLOEXEC) != 0) return;
    args.push_back("--ready-fd");
    args.push_back(std::to_string(ready_pipe[1]));
    pid_ = spawn(args, log_file_, ready_pipe[1]);
    ::close(ready_pipe[1]);
    char line[16] = {};
    pollfd wait{ready_pipe[0], POLLIN, 0};
    if (pid_ > 0 && ::poll(&wait, 1, 60000) == 1) ready_ = ::read(ready_pipe[0], line, sizeof line - 1) > 0;
    ::close(ready_pipe[0]);
}

DaemonProcess::~DaemonProcess() {
    if (pid_ > 0) stop(SIGTERM);
}

void DaemonProcess::signal(int signo) const { ::kill(pid_, signo); }

int DaemonProcess::stop(int signo) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signo);
    int code = wait_exit(pid_, std::chrono::seconds(30));
    if (code == -2) {
        ::kill(pid_, SIGKILL);
        code = wait_exit(pid_, std::chrono::seconds(30));
    }
    pid_ = -1;
    return code;
}

std::string DaemonProcess::log() const { return slurp(log_file_); }

bool DaemonProcess::wait_for_log(const std::string& text) const {
    for (int i = 0; i < 2000; ++i) {
        if (log().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Exit run_to_exit(const std::vector<std::string>& args) {
    std::string log_file = next_log_file();
    pid_t pid = spawn(args, log_file, -1);
    if (pid <= 0) return {-1, "spawn failed"};
    int code = wait_exit(pid, std::chrono::seconds(30));
    if (code == -2) {
        ::kill(pid, SIGKILL);
        wait_exit(pid, std::chrono::seconds(30));
        code = -1;
    }
    return {code, slurp(log_file)};
}

} // namespace velkd::test
