#include "process_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

namespace vdfe::test {
namespace {

std::atomic<int> g_runs{0};

std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

Process::Process(const std::string& program, std::vector<std::string> args, int keep_fd) {
    std::string base = "/tmp/run-" + std::to_string(::getpid()) + "-" + std::to_string(++g_runs);
    out_file_ = base + ".out";
    err_file_ = base + ".err";
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (keep_fd >= 0) posix_spawn_file_actions_adddup2(&actions, keep_fd, keep_fd); // clears close-on-exec
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
    if (pid_ > 0) stop(SIGKILL);
}

int Process::wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > deadline) return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int Process::stop(int signo, std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signo);
    int code = wait(limit);
    if (code == -2) {
        ::kill(pid_, SIGKILL);
        wait(std::chrono::seconds(30));
        code = -1;
    }
    return code;
}

std::string Process::out() const { return slurp(out_file_); }
std::string Process::err() const { return slurp(err_file_); }

Result run_program(const std::string& program, const std::vector<std::string>& args,
                   std::chrono::milliseconds limit) {
    Process child(program, args);
    if (!child.started()) return {-1, "", "cannot start " + program};
    int code = child.wait(limit);
    if (code == -2) code = child.stop(SIGKILL);
    return {code, child.out(), child.err()};
}

} // namespace vdfe::test
