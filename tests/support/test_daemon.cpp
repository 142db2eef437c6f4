#include "test_daemon.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cstring>

namespace vdfe::test {
namespace {

// The call's arguments: what follows its header and both authenticators.
Bytes arguments_of(const Bytes& body) {
    size_t at = 24; // xid, CALL, RPC version, program, version, procedure
    for (int auth = 0; auth < 2 && at + 8 <= body.size(); ++auth) {
        uint32_t length;
        std::memcpy(&length, &body[at + 4], 4);
        at += 8 + (ntohl(length) + 3) / 4 * 4;
    }
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

TestDaemon::TestDaemon(std::chrono::milliseconds start_delay) {
    auto start = [this] { server_ = std::make_unique<RawServer>([this](int fd, const CallRecord& call) { answer(fd, call); }); };
    if (start_delay.count() == 0) {
        start();
        return;
    }
    starter_ = std::thread([start, start_delay] {
        std::this_thread::sleep_for(start_delay);
        start();
    });
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

size_t TestDaemon::call_count() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
}

void TestDaemon::answer(int fd, const CallRecord& call) {
    Script script{Behaviour::no_procedure, {}};
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({call.procedure, arguments_of(call.body)});
        if (auto it = scripts_.find(call.procedure); it != scripts_.end()) script = it->second;
    }
    // An accepted reply: xid, REPLY, MSG_ACCEPTED, a null verifier, then
    // SUCCESS and the result, or PROC_UNAVAIL (3) or GARBAGE_ARGS (4).
    switch (script.behaviour) {
    case Behaviour::reply: send_bytes(fd, fragmented(success_reply_head(call.xid) + script.result)); break;
    case Behaviour::no_procedure: send_bytes(fd, fragmented(words({call.xid, 1, 0, 0, 0, 3}))); break;
    case Behaviour::garbage_args: send_bytes(fd, fragmented(words({call.xid, 1, 0, 0, 0, 4}))); break;
    case Behaviour::hang_up: break; // the server closes the connection
    }
}

} // namespace vdfe::test
