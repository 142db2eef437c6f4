#include "cli_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace velkdirect::test {
namespace {

std::atomic<int> g_runs{0};

std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Generous: the library alone waits up to 3 seconds for a missing daemon.
int wait_for(pid_t pid) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

Result run_program(const std::string& program, const std::vector<std::string>& args) {
    // Output goes to files in the test's private /tmp: no pipe to drain.
    int n = ++g_runs;
    std::string out_file = "/tmp/run-" + std::to_string(n) + ".out";
    std::string err_file = "/tmp/run-" + std::to_string(n) + ".err";
    std::vector<std::string> words = args;
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Result run;
    if (spawned != 0) {
        run.err = "cannot start " + program;
        return run;
    }
    run.code = wait_for(pid);
    run.out = slurp(out_file);
    run.err = slurp(err_file);
    return run;
}

Result velkdirect(const std::vector<std::string>& args) { return run_program(VELKDIRECT_PATH, args); }

nlohmann::json velkdirect_json(std::vector<std::string> args) {
    args.push_back("--json");
    Result run = velkdirect(args);
    EXPECT_EQ(run.code, 0) << run.err;
    if (run.code != 0) return nullptr;
    try {
        return nlohmann::json::parse(run.out);
    } catch (const nlohmann::json::parse_error& e) {
        ADD_FAILURE() << e.what() << "\n" << run.out;
        return nullptr;
    }
}

} // namespace velkdirect::test
