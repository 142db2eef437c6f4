// What one scrape costs: reading the whole platform through the library and
// writing its Prometheus text, against velkd-sim serving the built-in
// platform (10 sensors, 4 indicators) and generated platforms of 100 and
// 1,000 sensors. Reports the library calls a scrape makes and the time per
// sensor, so that the growth with the number of sensors can be read off.
//
// velkd-sim runs as a child process inside a private /tmp.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "exposition.h"
#include "platform_reading.h"
#include "private_tmp.h"
#include "ready_daemon.h"

namespace {

constexpr int kBuiltIn = 10; // sensors on the built-in platform

// A platform of `sensors` sensors on one FRU, in three units, plus 4 indicators.
std::string generated_platform(int sensors) {
    std::string out = "[platform]\nname = \"Generated\"\nmodel = \"GEN-" + std::to_string(sensors) + "\"\n\n";
    out += "[[fru]]\nname = \"board\"\npath = \"/board\"\nsize = 16\n\n";
    const char* units[] = {"degrees C", "volts", "RPM"};
    for (int i = 1; i <= sensors; ++i) {
        char block[512];
        std::snprintf(block, sizeof block,
                      "[[sensor]]\nid = \"s%04d\"\nnumber = %d\npath = \"/board/s%04d\"\nproperties = { unit = \"%s\" }\n"
                      "conversion = { m = 0.5, b = 0.0 }\n"
                      "thresholds = { lnr = 0.0, lcr = 5.0, lnc = 10.0, unc = 85.0, ucr = 95.0, unr = 100.0 }\n"
                      "reading = { behaviour = \"constant\", value = 40.0 }\n\n",
                      i, i, i, units[i % 3]);
        out += block;
    }
    for (int i = 0; i < 4; ++i)
        out += "[[indicator]]\nname = \"led" + std::to_string(i) + "\"\npath = \"/board/led" + std::to_string(i) +
               "\"\n\n";
    return out;
}

class Daemon {
public:
    // Serves the built-in platform, or a generated one of `sensors` sensors.
    bool serve(int sensors) {
        if (sensors == sensors_ && pid_ > 0) return true;
        stop();
        std::vector<std::string> args;
        if (sensors != kBuiltIn) {
            std::string file = "/tmp/generated-" + std::to_string(sensors) + ".toml";
            std::ofstream(file) << generated_platform(sensors);
            args = {"--config", file};
        }
        pid_ = vdfe::test::spawn_ready(VELKD_SIM_PATH, args, 30000);
        sensors_ = sensors;
        return pid_ > 0;
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    ~Daemon() { stop(); }

private:
    pid_t pid_ = -1;
    int sensors_ = 0;
};

Daemon g_daemon;

void BM_Scrape(benchmark::State& state) {
    int sensors = static_cast<int>(state.range(0));
    if (!g_daemon.serve(sensors)) {
        state.SkipWithError("velkd-sim did not start");
        return;
    }
    unsigned calls = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        velkdirect::metrics::PlatformReading reading = velkdirect::metrics::read_platform();
        std::string text = velkdirect::metrics::exposition(reading);
        if (!reading.up || reading.failed_calls != 0 || reading.sensors.size() != static_cast<std::size_t>(sensors)) {
            state.SkipWithError("the reading was not whole");
            return;
        }
        calls = reading.calls;
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["sensors"] = sensors;
    state.counters["calls/scrape"] = calls;
    state.counters["bytes/scrape"] = static_cast<double>(bytes);
    state.counters["time/sensor"] = benchmark::Counter(static_cast<double>(state.iterations()) * sensors,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Scrape)->Arg(kBuiltIn)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The text alone, from a reading already in memory.
void BM_ExpositionOnly(benchmark::State& state) {
    int sensors = static_cast<int>(state.range(0));
    if (!g_daemon.serve(sensors)) {
        state.SkipWithError("velkd-sim did not start");
        return;
    }
    velkdirect::metrics::PlatformReading reading = velkdirect::metrics::read_platform();
    for (auto _ : state) benchmark::DoNotOptimize(velkdirect::metrics::exposition(reading));
    state.counters["sensors"] = sensors;
}
BENCHMARK(BM_ExpositionOnly)->Arg(kBuiltIn)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!vdfe::test::enter_private_tmp()) return 1;
    benchmark::RunSpecifiedBenchmarks();
    g_daemon.stop();
    benchmark::Shutdown();
    return 0;
}
