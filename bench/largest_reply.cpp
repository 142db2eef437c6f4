// How many bytes the largest reply of a big platform takes, next to the
// library's reply size limit: velkd-sim serves a description of N sensors
// (default the most a description may hold; the sensor list is the largest reply there is, a sensor
// record being the largest record), the list is fetched once on a raw socket
// to count its bytes on the wire and once through the library to time it.
//
//   largest_reply [N]
//
// Runs in a private /tmp (mount namespace), like the tests.
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "private_tmp.h"
#include "protocol_limits.h"
#include "ready_daemon.h"
#include "record_marking.h"
#include "transport/call_limits.h"
#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"

namespace {

constexpr const char* kDescription = "/tmp/largest_reply.toml";

// Sensors with long but plausible names, a note and four properties each.
bool write_description(long sensors) {
    FILE* out = std::fopen(kDescription, "w");
    if (out == nullptr) return false;
    std::fprintf(out, "[platform]\nname = \"Velk Large Platform\"\nmodel = \"VLK-SIM-XL\"\n");
    for (long i = 0; i < sensors; ++i) {
        long rack = i / 10000, chassis = i / 1000 % 10, blade = i / 100 % 10, cpu = i / 10 % 10, core = i % 10;
        std::fprintf(out,
                     "\n[[sensor]]\nid = \"rack%02ld_ch%ld_bl%ld_cpu%ld_core%ld_temp\"\nnumber = %ld\n"
                     "path = \"/datacenter/rack%02ld/chassis%ld/blade%02ld/cpu%ld/core%02ld/temperature_%06ld\"\n"
                     "kind = 3\ndesc = [0x03, 1, 0x01, 0x01]\ntype = 0x01\n"
                     "note = \"Core %ld temperature of CPU %ld, blade %ld\"\n"
                     "properties = { unit = \"degrees C\", vendor = \"Velk Systems\", "
                     "location = \"rack %ld chassis %ld slot %ld\", serial = \"VK%010ld\" }\n"
                     "conversion = { m = 0.5, b = 0.0 }\n"
                     "thresholds = { lnr = 0.0, lcr = 5.0, lnc = 10.0, unc = 85.0, ucr = 95.0, unr = 100.0 }\n"
                     "reading = { behaviour = \"constant\", value = 40.0 }\n",
                     rack, chassis, blade, cpu, core, i + 1, rack, chassis, blade, cpu, core, i, core, cpu, blade,
                     rack, chassis, blade, i);
    }
    return std::fclose(out) == 0;
}

pid_t start_daemon() { return vdfe::test::spawn_ready(VELKD_SIM_PATH, {"--config", kDescription}, 300000); }

bool read_exactly(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The bytes of the reply to a call of `procedure` without argument, record
// marks included; 0 on failure.
size_t reply_bytes(uint32_t procedure) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
    uint32_t call[11] = {htonl(0x80000000u | 40), htonl(7), 0, htonl(2), htonl(VELKD_PROG), htonl(VELKD_VERS),
                         htonl(procedure), 0, 0, 0, 0};
    size_t total = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::write(fd, call, sizeof call) == sizeof call) {
        static char scratch[1 << 16];
        for (;;) {
            unsigned char mark_bytes[velk::protocol::kMarkBytes];
            if (!read_exactly(fd, mark_bytes, sizeof mark_bytes)) return 0;
            velk::protocol::FragmentMark mark = velk::protocol::decode_mark(mark_bytes);
            total += sizeof mark_bytes;
            for (size_t left = mark.length; left > 0;) {
                size_t n = left < sizeof scratch ? left : sizeof scratch;
                if (!read_exactly(fd, scratch, n)) return 0;
                left -= n;
                total += n;
            }
            if (mark.last) break;
        }
    }
    ::close(fd);
    return total;
}

} // namespace

int main(int argc, char** argv) {
    long sensors = argc > 1 ? std::atol(argv[1]) : static_cast<long>(velk::protocol::kMaxObjectsOfAKind);
    if (sensors <= 0 || !vdfe::test::enter_private_tmp()) return 1;
    if (!write_description(sensors)) return 1;
    pid_t daemon = start_daemon();
    if (daemon <= 0) {
        std::fprintf(stderr, "velkd-sim did not start\n");
        return 1;
    }
    size_t bytes = reply_bytes(3);
    auto start = std::chrono::steady_clock::now();
    uint32_t count = 0;
    velkdirectfe_sensor_attr_t* attrs = nullptr;
    int status = velkdirectfe_get_sensor_attrs(0, &count, &attrs);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status == 0) velkdirectfe_free_sensor_attrs(0, count, attrs);
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);

    std::printf("%ld sensors: sensor list reply %zu bytes on the wire (%.1f MB)\n", sensors, bytes, bytes / 1e6);
    std::printf("reply size limit %zu bytes (%.1f MB): %.2f times the reply\n", vdfe::kReplyByteLimit,
                vdfe::kReplyByteLimit / 1e6, double(vdfe::kReplyByteLimit) / double(bytes ? bytes : 1));
    std::printf("velkdirectfe_get_sensor_attrs: status %d, %u records, %.2f s\n", status, count, seconds);
    return bytes != 0 && status == 0 ? 0 : 1;
}
