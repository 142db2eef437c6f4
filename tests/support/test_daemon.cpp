#include "test_daemon.h"

#include "raw_server.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <poll.h>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#ifdef VDFE_TIRPC_STANDIN
// The target run's stand-in libtirpc is glibc's Sun RPC underneath, which
// keeps the server's poll set per thread behind accessors instead of in
// libtirpc's process-wide variables. The serving thread is the one that
// registered the transport, so its own set is the one to poll.
extern "C" pollfd** __rpc_thread_svc_pollfd();
extern "C" int* __rpc_thread_svc_max_pollfd();
#define svc_pollfd (*__rpc_thread_svc_pollfd())
#define svc_max_pollfd (*__rpc_thread_svc_max_pollfd())
#endif

namespace vdfe::test {
namespace {

// libtirpc's server side is process-global; so is the daemon it serves.
std::atomic<TestDaemon*> g_active{nullptr};

// Reads the call's argument bytes, word by word, up to the end of the record.
bool_t capture_arguments(XDR* xdrs, Bytes* out) {
    uint8_t word[4];
    while (XDR_GETBYTES(xdrs, reinterpret_cast<char*>(word), 4)) out->insert(out->end(), word, word + 4);
    return TRUE;
}

bool_t put_result(XDR* xdrs, const Bytes* result) {
    if (result->empty()) return TRUE;
    return XDR_PUTBYTES(xdrs, reinterpret_cast<const char*>(result->data()), static_cast<u_int>(result->size()));
}

// Connections still open (besides the listener) in libtirpc's poll set.
int open_connections() {
    int open = 0;
    for (int i = 0; i < svc_max_pollfd; ++i) open += svc_pollfd[i].fd >= 0;
    return open - 1;
}

} // namespace

TestDaemon::TestDaemon(std::chrono::milliseconds start_delay) {
    g_active = this;
    thread_ = std::thread([this, start_delay] { serve(start_delay); });
    if (start_delay.count() == 0) {
        std::unique_lock lock(mutex_);
        ready_cv_.wait(lock, [this] { return ready_; });
    }
}

TestDaemon::~TestDaemon() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    thread_.join();
    g_active = nullptr;
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

void TestDaemon::dispatch_trampoline(struct svc_req* request, SVCXPRT* transport) {
    g_active.load()->dispatch(request, transport);
}

void TestDaemon::dispatch(struct svc_req* request, SVCXPRT* transport) {
    ReceivedCall call{static_cast<uint32_t>(request->rq_proc), {}};
    svc_getargs(transport, wire::xdr_routine(capture_arguments), reinterpret_cast<char*>(&call.arguments));
    Script script{Behaviour::no_procedure, {}};
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        if (auto it = scripts_.find(call.procedure); it != scripts_.end()) script = it->second;
    }
    switch (script.behaviour) {
    case Behaviour::reply:
        svc_sendreply(transport, wire::xdr_routine(put_result), reinterpret_cast<char*>(&script.result));
        break;
    case Behaviour::no_procedure: svcerr_noproc(transport); break;
    case Behaviour::garbage_args: svcerr_decode(transport); break;
    case Behaviour::hang_up: shutdown(transport->xp_fd, SHUT_RDWR); break;
    }
}

void TestDaemon::serve(std::chrono::milliseconds start_delay) {
    // A client that gives up on a reply (a call that failed an allocation,
    // say) closes while the reply is still being written; that SIGPIPE is
    // this thread's alone and stays pending here instead of ending the test.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
    std::this_thread::sleep_for(start_delay);
    // (svcunix_create would listen too, but leaks its copy of the address)
    SVCXPRT* listener = svc_vc_create(listen_on_socket_path(), 0, 0);
    if (listener == nullptr || !svc_register(listener, VELKD_PROG, VELKD_VERS, dispatch_trampoline, 0)) abort();
    {
        std::lock_guard lock(mutex_);
        ready_ = true;
    }
    ready_cv_.notify_all();

    // Serve until told to stop, then a little longer while clients are still
    // hanging up, so their connections are released.
    std::chrono::steady_clock::time_point stop_deadline{};
    for (;;) {
        bool stopping;
        {
            std::lock_guard lock(mutex_);
            stopping = stopping_;
        }
        if (stopping) {
            auto now = std::chrono::steady_clock::now();
            if (stop_deadline == std::chrono::steady_clock::time_point{})
                stop_deadline = now + std::chrono::milliseconds(500);
            if (open_connections() <= 0 || now >= stop_deadline) break;
        }
        std::vector<pollfd> fds(svc_pollfd, svc_pollfd + svc_max_pollfd);
        int ready = poll(fds.data(), fds.size(), 10);
        if (ready > 0) svc_getreq_poll(fds.data(), ready);
    }
    // Whatever is still connected is dropped here.
    for (int i = 0; i < svc_max_pollfd; ++i) {
        int fd = svc_pollfd[i].fd;
        if (fd >= 0 && fd != listener->xp_fd) shutdown(fd, SHUT_RDWR);
    }
    for (int round = 0; round < 20 && open_connections() > 0; ++round) {
        std::vector<pollfd> fds(svc_pollfd, svc_pollfd + svc_max_pollfd);
        int ready = poll(fds.data(), fds.size(), 10);
        if (ready > 0) svc_getreq_poll(fds.data(), ready);
    }
    svc_unregister(VELKD_PROG, VELKD_VERS);
    svc_destroy(listener);
    unlink(VELKD_SOCKET_PATH);
}

} // namespace vdfe::test
