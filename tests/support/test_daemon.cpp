#include "test_daemon.h"

#include "record_marking.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace vdfe::test {
namespace {

bool read_exactly(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = read(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

uint32_t word_at(const Bytes& bytes, size_t index) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + 4 * index, 4);
    return ntohl(word);
}

// The call's arguments: what follows its header (xid, CALL, RPC version,
// program, version, procedure) and both authenticators (flavour, length, body).
Bytes arguments_of(const Bytes& body) {
    size_t at = 24;
    for (int auth = 0; auth < 2 && at + 8 <= body.size(); ++auth)
        at += 8 + (word_at(body, at / 4 + 1) + 3) / 4 * 4;
    return at < body.size() ? Bytes(body.begin() + long(at), body.end()) : Bytes{};
}

// Replies go out in fragments of at most 4,000 bytes, as a stream server's
// send buffer cuts them, so that the client's reassembly is always at work.
Bytes fragmented(const Bytes& body) {
    Bytes out;
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(4000, body.size() - at);
        out += record_mark(static_cast<uint32_t>(n), at + n == body.size());
        out.insert(out.end(), body.begin() + long(at), body.begin() + long(at + n));
        at += n;
    } while (at < body.size());
    return out;
}

} // namespace

int listen_on_socket_path() {
    unlink(VELKD_SOCKET_PATH);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, SOMAXCONN) != 0)
        abort();
    return fd;
}

int settled_descriptors() {
    auto count = [] {
        int n = 0;
        DIR* dir = opendir("/proc/self/fd");
        while (dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
        closedir(dir);
        return n;
    };
    int last = count();
    for (int round = 0; round < 100; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (int now = count(); now != last) last = now;
        else return now;
    }
    return last;
}

TestUser test_user(const std::string& name) {
    for (int tries = 0; tries < 100; ++tries) {
        if (passwd* entry = getpwnam(name.c_str())) return {entry->pw_uid, entry->pw_gid};
        std::string command = "useradd --system --user-group --no-create-home --shell /usr/sbin/nologin " + name +
                              " >/dev/null 2>&1";
        [[maybe_unused]] int rc = std::system(command.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // another test may hold the lock on /etc/passwd
    }
    abort(); // no account, no test
}

bool read_call(int fd, CallRecord* call) {
    call->body.clear();
    for (;;) {
        unsigned char mark_bytes[velk::protocol::kMarkBytes];
        if (!read_exactly(fd, mark_bytes, sizeof mark_bytes)) return false;
        velk::protocol::FragmentMark mark = velk::protocol::decode_mark(mark_bytes);
        size_t at = call->body.size();
        call->body.resize(at + mark.length);
        if (!read_exactly(fd, call->body.data() + at, mark.length)) return false;
        if (mark.last) break;
    }
    if (call->body.size() < 24) return false;
    call->xid = word_at(call->body, 0);
    call->procedure = word_at(call->body, 5);
    return true;
}

bool send_bytes(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

Bytes record_mark(uint32_t length, bool last) {
    unsigned char mark[velk::protocol::kMarkBytes];
    velk::protocol::encode_mark({length, last}, mark);
    return Bytes(mark, mark + sizeof mark);
}

Bytes one_record(const Bytes& body) { return record_mark(static_cast<uint32_t>(body.size()), true) + body; }

Bytes success_reply_head(uint32_t xid) { return words({xid, 1, 0, 0, 0, 0}); }

RawServer::RawServer(Script script) : script_(std::move(script)), listener_(listen_on_socket_path()) {
    thread_ = std::thread([this] {
        for (;;) {
            int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) return; // the listener was shut down
            ++connections_;
            CallRecord call;
            if (read_call(fd, &call)) script_(fd, call);
            close(fd);
        }
    });
}

RawServer::~RawServer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
    unlink(VELKD_SOCKET_PATH);
}

// Without a delay the socket is bound before the constructor returns.
TestDaemon::TestDaemon(std::chrono::milliseconds start_delay) {
    starter_ = std::thread([this, start_delay] {
        std::this_thread::sleep_for(start_delay);
        server_ = std::make_unique<RawServer>([this](int fd, const CallRecord& call) { answer(fd, call); });
    });
    if (start_delay.count() == 0) starter_.join();
}

TestDaemon::~TestDaemon() {
    if (starter_.joinable()) starter_.join();
    server_.reset();
}

void TestDaemon::script(uint32_t procedure, Script script) {
    std::lock_guard lock(mutex_);
    scripts_[procedure] = std::move(script);
}

std::vector<ReceivedCall> TestDaemon::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

Bytes TestDaemon::last_arguments(uint32_t procedure) const {
    std::lock_guard lock(mutex_);
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
        if (it->procedure == procedure) return it->arguments;
    return {};
}

void TestDaemon::answer(int fd, const CallRecord& call) {
    Script script{Behaviour::no_procedure, {}};
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({call.procedure, arguments_of(call.body)});
        if (auto it = scripts_.find(call.procedure); it != scripts_.end()) script = it->second;
    }
    // An accepted reply: SUCCESS (0) and the result, PROC_UNAVAIL (3) or
    // GARBAGE_ARGS (4). On hang_up the server closes the connection.
    if (script.behaviour == Behaviour::hang_up) return;
    if (script.behaviour == Behaviour::silent) {
        pollfd hung_up{fd, POLLIN, 0};
        char byte;
        while (poll(&hung_up, 1, 30000) > 0 && recv(fd, &byte, 1, 0) > 0) {}
        return;
    }
    uint32_t state = std::array{0u, 3u, 4u}[static_cast<size_t>(script.behaviour)]; // Behaviour's order
    send_bytes(fd, fragmented(words({call.xid, 1, 0, 0, 0, state}) + (state == 0 ? script.result : Bytes{})));
}

} // namespace vdfe::test
