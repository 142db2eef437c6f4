// One simple library call against velkd-sim, next to the floor of the same
// machine in the same run: a bare Unix-socket connect, one 4-byte request, a
// 4-byte reply and close, served by a minimal server process. The same call
// also runs the way the library made it over libtirpc's stream client, for
// comparison. Prints the ratios at the end (wall time and the client's CPU
// time), and the daemon's throughput with 1, 8 and 64 clients calling at once.
//
// Both servers run as child processes inside a private /tmp (mount
// namespace), so the machine's own daemon socket is never touched.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <pthread.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "private_tmp.h"
#include "ready_daemon.h"
#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"
#include "wire/xdr_routine.h"

namespace {

constexpr const char* kFloorPath = "/tmp/floor.sock";

sockaddr_un floor_address() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, kFloorPath);
    return address;
}

// The floor server: accept, read the request, write the reply, close.
[[noreturn]] void serve_floor(int listener) {
    for (;;) {
        int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        uint32_t word = 0;
        if (::read(fd, &word, sizeof word) == sizeof word) [[maybe_unused]] auto n = ::write(fd, &word, sizeof word);
        ::close(fd);
    }
}

pid_t start_floor_server() {
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = floor_address();
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 128) != 0)
        return -1;
    pid_t pid = ::fork();
    if (pid == 0) serve_floor(listener);
    ::close(listener);
    return pid;
}

pid_t start_daemon() {
    // VELKD_SIM names another build of the daemon, to compare two side by side.
    const char* path = std::getenv("VELKD_SIM") ? std::getenv("VELKD_SIM") : VELKD_SIM_PATH;
    return vdfe::test::spawn_ready(path, {}, 30000);
}

pid_t g_daemon = -1;

// The daemon's CPU time so far (user and system), from /proc.
double daemon_cpu_seconds() {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(g_daemon));
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return 0;
    char line[1024];
    std::size_t n = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    line[n] = 0;
    const char* at = std::strrchr(line, ')'); // the command name may hold spaces
    unsigned long user = 0, system = 0;
    if (at == nullptr || std::sscanf(at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2)
        return 0;
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Counts the daemon's CPU time per call over a benchmark run, as the counter
// daemon_cpu_us (set by the first thread only; counters add up over threads).
class DaemonCpu {
public:
    explicit DaemonCpu(benchmark::State& state) : state_(state) {
        if (state_.thread_index() == 0) start_ = daemon_cpu_seconds();
    }
    ~DaemonCpu() {
        if (state_.thread_index() != 0 || state_.iterations() == 0) return;
        double calls = static_cast<double>(state_.iterations()) * state_.threads();
        state_.counters["daemon_cpu_us"] = (daemon_cpu_seconds() - start_) * 1e6 / calls;
    }

private:
    benchmark::State& state_;
    double start_ = 0;
};

void BM_Floor_ConnectRequestReplyClose(benchmark::State& state) {
    sockaddr_un address = floor_address();
    for (auto _ : state) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        uint32_t word = 42;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::write(fd, &word, sizeof word) != sizeof word || ::read(fd, &word, sizeof word) != sizeof word)
            state.SkipWithError("floor server did not answer");
        ::close(fd);
    }
}
BENCHMARK(BM_Floor_ConnectRequestReplyClose)->MinTime(2.0);

// The call every library benchmark makes.
void library_call(benchmark::State& state) {
    uint16_t reading = 0;
    float normal = 0;
    if (velkdirectfe_get_sensor_vals(0, "cpu0_temp", &reading, &normal) != 0)
        state.SkipWithError("velkd-sim did not answer");
    benchmark::DoNotOptimize(reading);
}

void BM_Library_GetSensorVals(benchmark::State& state) {
    DaemonCpu cpu(state);
    for (auto _ : state) library_call(state);
}
BENCHMARK(BM_Library_GetSensorVals)->MinTime(2.0);

// The same call the way the library made it before it had a client of its
// own: SIGPIPE held off around the call, libtirpc's stream client from
// clntunix_create, the exported stub, clnt_freeres and clnt_destroy.
void BM_TirpcStreamClient_GetSensorVals(benchmark::State& state) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
    char name[] = "cpu0_temp";
    char* argument = name;
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    for (auto _ : state) {
        sigset_t pending, previous;
        sigpending(&pending);
        pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
        int sock = RPC_ANYSOCK;
        CLIENT* client = clntunix_create(&address, VELKD_PROG, VELKD_VERS, &sock, 0, 0);
        if (client == nullptr) {
            state.SkipWithError("velkd-sim did not answer");
            break;
        }
        clnt_control(client, CLSET_FD_CLOSE, nullptr);
        sensor_reading_res result{};
        if (velkd_get_sens_val_1(&argument, &result, client) != RPC_SUCCESS || result.status != 0)
            state.SkipWithError("velkd-sim did not answer");
        benchmark::DoNotOptimize(result.values.reading);
        clnt_freeres(client, vdfe::wire::xdr_routine(xdr_sensor_reading_res), reinterpret_cast<char*>(&result));
        clnt_destroy(client);
        sigpending(&pending);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
}
BENCHMARK(BM_TirpcStreamClient_GetSensorVals)->MinTime(2.0);

// Calls per second from concurrent clients (items_per_second, wall clock).
void BM_Library_Throughput(benchmark::State& state) {
    DaemonCpu cpu(state);
    for (auto _ : state) library_call(state);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Library_Throughput)->MinTime(1.0)->UseRealTime()->Threads(1)->Threads(8)->Threads(64);

// libtirpc's own client calling the daemon's null procedure: the part of a
// library call that is the RPC layer's and the daemon's, without the library.
void BM_Tirpc_NullProcedure(benchmark::State& state) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
    xdrproc_t none = vdfe::wire::xdr_routine(xdr_void);
    for (auto _ : state) {
        int sock = RPC_ANYSOCK;
        CLIENT* client = clntunix_create(&address, VELKD_PROG, VELKD_VERS, &sock, 0, 0);
        timeval timeout{25, 0};
        if (client == nullptr || clnt_call(client, NULLPROC, none, nullptr, none, nullptr, timeout) != RPC_SUCCESS)
            state.SkipWithError("velkd-sim did not answer");
        if (client != nullptr) {
            clnt_control(client, CLSET_FD_CLOSE, nullptr);
            clnt_destroy(client);
        }
    }
}
BENCHMARK(BM_Tirpc_NullProcedure)->MinTime(2.0);

// Keeps the time per iteration of each benchmark for the closing ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.iterations > 0) {
                ns_[run.benchmark_name()] = run.GetAdjustedRealTime();
                cpu_ns_[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
    }
    void print_ratio() const {
        auto floor = ns_.find("BM_Floor_ConnectRequestReplyClose/min_time:2.000");
        auto call = ns_.find("BM_Library_GetSensorVals/min_time:2.000");
        auto before = ns_.find("BM_TirpcStreamClient_GetSensorVals/min_time:2.000");
        if (floor == ns_.end() || call == ns_.end()) return;
        std::printf("\nfloor %.1f us, library call to velkd-sim %.1f us: ratio %.2f\n", floor->second / 1000,
                    call->second / 1000, call->second / floor->second);
        double floor_cpu = cpu_ns_.at(floor->first), call_cpu = cpu_ns_.at(call->first);
        std::printf("client CPU: floor %.1f us, library call %.1f us: ratio %.2f\n", floor_cpu / 1000,
                    call_cpu / 1000, call_cpu / floor_cpu);
        if (before != ns_.end())
            std::printf("the same call over libtirpc's stream client %.1f us: ratio %.2f; the library's client "
                        "takes %.2f of its time\n",
                        before->second / 1000, before->second / floor->second, call->second / before->second);
    }

private:
    std::map<std::string, double> ns_;
    std::map<std::string, double> cpu_ns_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!vdfe::test::enter_private_tmp()) return 1;
    pid_t floor = start_floor_server();
    pid_t daemon = start_daemon();
    g_daemon = daemon;
    int code = 0;
    if (floor > 0 && daemon > 0) {
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.print_ratio();
    } else {
        std::fprintf(stderr, "could not start the servers\n");
        code = 1;
    }
    for (pid_t pid : {floor, daemon}) {
        if (pid <= 0) continue;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    benchmark::Shutdown();
    return code;
}
