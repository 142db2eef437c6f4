#include "server.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "log.h"

namespace velkd {
namespace {

sigset_t daemon_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void announce_ready(std::optional<int> fd) {
    if (!fd) return;
    static constexpr char kReady[] = "ready\n";
    [[maybe_unused]] ssize_t n = ::write(*fd, kReady, sizeof kReady - 1);
    ::close(*fd);
}

Deadline now_ns() { return deadline_in(0); }

// Event loops, each with its own epoll set and the connections it accepted:
// one per core of the machine this runs on (2), so that the daemon's share of
// the processors does not shrink to one thread's among many clients.
constexpr int kLoops = 2;

// How often the deadlines are checked: a client is dropped at most this
// long after its deadline.
constexpr int kSweepMs = 50;

// Freed buffers beyond which the heap is trimmed, and held ones below which.
constexpr std::size_t kTrimAfterBytes = 1u << 20;

class Server {
public:
    Server(int listen_fd, const ServerOptions& options, const PlatformHolder& platforms)
        : listen_fd_(listen_fd), options_(options), platforms_(platforms),
          budgets_{MemoryBudget(options.call_budget_bytes), MemoryBudget(options.reply_budget_bytes)} {
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
        ::fcntl(listen_fd_, F_SETFL, ::fcntl(listen_fd_, F_GETFL) | O_NONBLOCK);
        for (int i = 0; i < kLoops; ++i) {
            int epoll = ::epoll_create1(EPOLL_CLOEXEC);
            if (epoll < 0) throw std::runtime_error(std::string("epoll: ") + std::strerror(errno));
            epolls_.push_back(epoll);
            // Each new connection wakes one loop, which keeps it. The wake-up
            // at stop stays readable, so every loop sees it.
            epoll_event wake{EPOLLIN, {.ptr = &wake_}};
            epoll_event listen{EPOLLIN | EPOLLEXCLUSIVE, {.ptr = &listen_fd_}};
            if (::epoll_ctl(epoll, EPOLL_CTL_ADD, wake_, &wake) != 0 ||
                ::epoll_ctl(epoll, EPOLL_CTL_ADD, listen_fd_, &listen) != 0)
                throw std::runtime_error(std::string("epoll_ctl: ") + std::strerror(errno));
        }
    }

    ~Server() {
        for (Connection* c : connections_) {
            ::close(c->fd);
            delete c;
        }
        ::close(wake_);
        for (int epoll : epolls_) ::close(epoll);
    }

    void start() {
        for (int epoll : epolls_) loops_.emplace_back([this, epoll] { run_loop(epoll); });
        for (int i = 0; i < options_.workers; ++i) workers_.emplace_back([this] { work(); });
    }

    void stop() {
        stopping_ = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
        for (std::thread& loop : loops_) loop.join();
        {
            std::lock_guard lock(queue_mutex_);
            queue_ready_.notify_all();
        }
        for (std::thread& worker : workers_) worker.join();
    }

    // Drops the clients whose deadline has passed and who are at fault:
    // shutting the socket down makes it readable, and the event loop (or the
    // worker answering it) then closes it. Then trims the heap when much was
    // freed and little is held.
    void sweep() {
        Deadline now = now_ns();
        {
            std::lock_guard lock(mutex_);
            for (Connection* c : connections_) {
                // A connection the loop or a worker holds is being read,
                // answered or written right now: its deadline is checked next time.
                std::unique_lock hold(c->busy, std::try_to_lock);
                if (!hold || c->deadline > now || keep_past_deadline(*c, options_.limits, now)) continue;
                c->deadline = kNoDeadline;
                ::shutdown(c->fd, SHUT_RDWR);
            }
        }
        resume_parked(); // in case a release raced with parking
        // glibc keeps freed heap memory for reuse: once the clients that
        // held much of it are gone (dropped, or served), it goes back to the
        // system. Not while others still hold much, nor more than once a
        // second, since pages given back cost a fault when used again.
        if (budgets_.freed.load(std::memory_order_relaxed) >= kTrimAfterBytes && now >= next_trim_ &&
            budgets_.calls.held() + budgets_.replies.held() < kTrimAfterBytes) {
            budgets_.freed = 0;
            next_trim_ = now + 1000000000;
            ::malloc_trim(0);
        }
    }

private:
    // The event loop: one thread takes every event and answers the calls
    // that cannot wait inline; it wakes no other thread for them. Events are
    // level-triggered, so a connection costs an epoll_ctl only when what it
    // waits for changes.
    void run_loop(int epoll) {
        while (!stopping_.load(std::memory_order_relaxed)) {
            epoll_event event{};
            int n = ::epoll_wait(epoll, &event, 1, 1000);
            if (n != 1 || event.data.ptr == &wake_) continue;
            if (event.data.ptr == &listen_fd_)
                accept_one(epoll);
            else
                serve(static_cast<Connection*>(event.data.ptr));
        }
    }

    // Takes what the connection is ready for and answers its calls, then
    // waits for what comes next on it, or closes it.
    void serve(Connection* c) {
        std::unique_lock hold(c->busy);
        Next next = c->out_sent < c->out.size() ? on_writable(*c, options_.limits) : on_readable(*c, options_.limits);
        answer_calls(c, next, hold, false);
        resume_parked(); // a reply read to its end makes room for others
    }

    // A worker: answers calls that may wait, and those that waited for room
    // for their replies, one connection at a time.
    void work() {
        for (;;) {
            Connection* c = nullptr;
            {
                std::unique_lock lock(queue_mutex_);
                queue_ready_.wait(lock, [this] { return stopping_.load() || !queue_.empty(); });
                if (queue_.empty()) return; // stopping
                c = queue_.front();
                queue_.pop_front();
            }
            std::unique_lock hold(c->busy);
            answer_calls(c, Next::answer, hold, true);
            resume_parked();
        }
    }

    // Answers the complete calls the connection holds, then waits for what
    // comes next on it. A call that may wait goes to the workers (unless a
    // worker holds it already). While the replies not yet read fill their
    // budget no reply is built: the connection waits, parked, until one is
    // read or dropped. The connection leaves the epoll set meanwhile.
    void answer_calls(Connection* c, Next next, std::unique_lock<std::mutex>& hold, bool in_worker) {
        while (next == Next::answer) {
            if (budgets_.replies.full()) {
                std::unique_lock lock(queue_mutex_);
                if (budgets_.replies.full()) { // checked again under the lock resume_parked takes
                    hand_over(c, hold);
                    parked_.push_back(c);
                    return;
                }
            }
            if (!in_worker && call_may_wait(*c, platforms_)) {
                std::lock_guard lock(queue_mutex_);
                hand_over(c, hold);
                queue_.push_back(c);
                queue_ready_.notify_one();
                return;
            }
            next = answer_call(*c, options_.limits, platforms_);
        }
        wait_for(c, next, hold);
    }

    // Takes the connection out of its loop's set; its time is now the
    // daemon's, not the client's.
    static void hand_over(Connection* c, std::unique_lock<std::mutex>& hold) {
        if (c->events != 0) ::epoll_ctl(c->epoll, EPOLL_CTL_DEL, c->fd, nullptr);
        c->events = 0;
        c->phase = Phase::answering;
        c->deadline = kNoDeadline;
        hold.unlock();
    }

    // Hands the parked connections to the workers once replies have room.
    void resume_parked() {
        if (budgets_.replies.full()) return;
        std::lock_guard lock(queue_mutex_);
        if (parked_.empty() || budgets_.replies.full()) return;
        queue_.insert(queue_.end(), parked_.begin(), parked_.end());
        parked_.clear();
        queue_ready_.notify_all();
    }

    void wait_for(Connection* c, Next next, std::unique_lock<std::mutex>& hold) {
        uint32_t want = next == Next::read ? EPOLLIN : EPOLLOUT;
        if (next != Next::close && c->events != want) {
            epoll_event event{want, {.ptr = c}};
            if (::epoll_ctl(c->epoll, c->events != 0 ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c->fd, &event) == 0)
                c->events = want;
            else
                next = Next::close;
        }
        if (next == Next::close) {
            hold.unlock();
            close(c);
        }
    }

    // Accepts one connection, registers it and serves it.
    void accept_one(int epoll) {
        Connection* c = nullptr;
        {
            // Accepting and registering under one lock keeps the caps'
            // "newest" the latest to connect, whichever loop accepts it.
            std::lock_guard order(accept_mutex_);
            int fd = -1;
            do {
                fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            } while (fd < 0 && (errno == EINTR || errno == ECONNABORTED));
            if (fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)) {
                log(LogLevel::error, "accept: {}", std::strerror(errno));
                std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let connections finish
            }
            if (fd >= 0) c = admit(fd, epoll);
        }
        // A client usually sends its call right after connecting: take it
        // now, rather than after another trip through the loop.
        if (c != nullptr) serve(c);
    }

    // Registers a new connection, or closes it (null) when a cap is reached.
    Connection* admit(int fd, int epoll) {
        ucred peer{};
        socklen_t size = sizeof peer;
        uid_t uid = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 ? peer.uid : static_cast<uid_t>(-1);
        // The last slots are kept for root and the daemon's own user, so
        // that other users of the socket cannot lock them out.
        bool privileged = uid == 0 || uid == ::geteuid();
        int slots = options_.max_connections - (privileged ? 0 : options_.reserved_connections);
        std::lock_guard lock(mutex_);
        int& of_user = per_user_[uid];
        if (static_cast<int>(connections_.size()) >= slots || of_user >= options_.max_connections_per_user) {
            // One warning a second at most, however fast they come.
            ++refused_;
            if (Deadline now = now_ns(); now >= next_refusal_warning_) {
                log(LogLevel::warning, "refusing a connection of uid {}: {} open, {} of that user ({} refused)",
                    uid, connections_.size(), of_user, refused_);
                refused_ = 0;
                next_refusal_warning_ = now + 1000000000;
            }
            if (of_user == 0) per_user_.erase(uid);
            ::close(fd);
            return nullptr;
        }
        ++of_user;
        auto* c = new Connection(fd, uid, epoll);
        c->budgets = &budgets_;
        c->deadline = deadline_in(options_.limits.first_byte_timeout_ms); // before any other thread sees c
        connections_.insert(c);
        log(LogLevel::debug, "connection from uid {} accepted ({} open)", uid, connections_.size());
        return c;
    }

    void close(Connection* c) {
        {
            std::lock_guard lock(mutex_);
            connections_.erase(c);
            auto user = per_user_.find(c->uid);
            if (user != per_user_.end() && --user->second == 0) per_user_.erase(user);
            log(LogLevel::debug, "connection from uid {} closed ({} open)", c->uid, connections_.size());
        }
        // Out of the budgets before the descriptor closes: a budget may shut
        // down the socket of any connection it still counts.
        budgets_.calls.release(c);
        budgets_.replies.release(c);
        budgets_.freed += c->call.capacity() + c->pending.capacity() + c->out.capacity();
        ::close(c->fd);
        delete c;
    }

    int listen_fd_;
    const ServerOptions& options_;
    const PlatformHolder& platforms_;
    MemoryBudgets budgets_;
    Deadline next_trim_ = 0; // the sweep's own
    std::vector<int> epolls_;
    int wake_ = -1;
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> loops_;
    std::vector<std::thread> workers_;

    // Connections whose call may wait, for the workers; and those whose
    // call waits for room for its reply.
    std::mutex queue_mutex_;
    std::condition_variable queue_ready_;
    std::deque<Connection*> queue_;
    std::vector<Connection*> parked_;

    std::mutex accept_mutex_;
    std::mutex mutex_; // guards the members below
    std::unordered_set<Connection*> connections_;
    std::unordered_map<uid_t, int> per_user_;
    uint64_t refused_ = 0; // since the last warning
    Deadline next_refusal_warning_ = 0;
};

} // namespace

void block_daemon_signals() {
    sigset_t set = daemon_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void run_server(int listen_fd, const ServerOptions& options, PlatformHolder& platforms, const Reloader& reload) {
    sigset_t set = daemon_signals();
    int signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (signals < 0) throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    Server server(listen_fd, options, platforms);
    server.start();
    announce_ready(options.ready_fd);

    bool stopping = false;
    while (!stopping) {
        pollfd wait{signals, POLLIN, 0};
        int ready = ::poll(&wait, 1, kSweepMs);
        server.sweep();
        if (ready != 1) continue;
        signalfd_siginfo info{};
        if (::read(signals, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            if (errno == EINTR) continue;
            log(LogLevel::error, "reading signals: {}", std::strerror(errno));
            break;
        }
        if (info.ssi_signo == SIGHUP) {
            if (auto next = reload()) {
                platforms.replace(std::move(next));
                log(LogLevel::info, "reloaded the platform description");
            }
        } else {
            log(LogLevel::info, "stopping on signal {}", info.ssi_signo);
            stopping = true;
        }
    }
    server.stop();
    ::close(signals);
}

} // namespace velkd
