// The exporter's parts in one process, without a daemon: the reading shared
// between scrapes, the request deadlines, the listen address, and the HTTP
// server's scrapes across a reading and a stop. Hostile clients against the
// real program are in exporter_test.sh.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"
#include "listen_address.h"
#include "request_deadlines.h"
#include "shared_reading.h"

namespace velkdirect::exporter {
namespace {

using metrics::PlatformReading;
using namespace std::chrono_literals;

bool says_up(const SharedReading::Text& text) {
    return text && text->find("\nvelkdirect_up 1\n") != std::string::npos;
}

// A reading that blocks until released, counting how often it was made.
struct HeldReading {
    std::atomic<int> reads{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    SharedReading::Read read() {
        return [this] {
            ++reads;
            released.wait();
            PlatformReading r;
            r.up = true;
            return r;
        };
    }
};

auto in(std::chrono::milliseconds duration) { return std::chrono::steady_clock::now() + duration; }

TEST(SharedReading, ConcurrentScrapesShareOneReadingAndLateOnesGetUpZero) {
    HeldReading held;
    SharedReading shared(held.read());
    // A scrape whose deadline passes while the daemon hangs gets up 0 (the
    // exporter's end-to-end test bounds how long it takes).
    EXPECT_FALSE(says_up(shared.get(in(50ms))));
    // Scrapes arriving meanwhile join the reading under way, and share its text.
    std::vector<std::future<SharedReading::Text>> scrapes;
    for (int i = 0; i < 8; ++i)
        scrapes.push_back(std::async(std::launch::async, [&] { return shared.get(in(30s)); }));
    std::this_thread::sleep_for(50ms);
    held.release.set_value();
    SharedReading::Text first = scrapes[0].get();
    EXPECT_TRUE(says_up(first));
    for (size_t i = 1; i < scrapes.size(); ++i) EXPECT_EQ(scrapes[i].get(), first);
    EXPECT_EQ(held.reads.load(), 1);
    // The next scrape gets a fresh reading, not the finished one.
    EXPECT_TRUE(says_up(shared.get(in(30s))));
    EXPECT_EQ(held.reads.load(), 2);
}

// Each connection is a socket pair: `ours` stands for the server's end, the
// test reads the client's end to see whether the server's end was shut down.
struct Pair {
    int ours = -1, client = -1;
    Pair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) ours = fds[0], client = fds[1];
    }
    ~Pair() {
        if (ours >= 0) close(ours);
        if (client >= 0) close(client);
    }
    // The server's end was shut down: the client reads end of file at once.
    bool cut() const {
        char byte;
        return recv(client, &byte, 1, MSG_DONTWAIT) == 0;
    }
};

TEST(RequestDeadlines, OnlyRequestsIncompletePastTheirDeadlineAreCut) {
    using Clock = RequestDeadlines::Clock;
    const auto t0 = Clock::now();
    RequestDeadlines deadlines({5s, 1s, 5}); // 1 s with 5 connections open
    Pair fresh, served, answered, late;
    auto* f = deadlines.opened(fresh.ours, t0);
    auto* s = deadlines.opened(served.ours, t0);
    auto* a = deadlines.opened(answered.ours, t0);
    auto* l = deadlines.opened(late.ours, t0);
    ASSERT_TRUE(f && s && a && l);
    deadlines.request_in(s);             // headers in: no deadline while answered
    deadlines.request_in(a);
    deadlines.answered(a, t0 + 4s);      // kept alive: a fresh allowance from here
    deadlines.request_in(l);
    deadlines.answered(l, t0 + 1s);
    EXPECT_EQ(deadlines.sweep(t0 + 5s - 1ms), 0u);
    EXPECT_EQ(deadlines.sweep(t0 + 6s), 2u); // fresh (accept + 5 s), late (answer + 5 s)
    EXPECT_TRUE(fresh.cut());
    EXPECT_TRUE(late.cut());
    EXPECT_FALSE(served.cut());
    EXPECT_FALSE(answered.cut());
    EXPECT_EQ(deadlines.sweep(t0 + 60s), 1u); // answered's turn; each is cut once
    EXPECT_TRUE(answered.cut());
    EXPECT_FALSE(served.cut());
    // A fifth connection crowds the server: its request has 1 s.
    Pair crowding;
    auto* c = deadlines.opened(crowding.ours, t0 + 60s);
    ASSERT_TRUE(c);
    EXPECT_EQ(deadlines.sweep(t0 + 61s - 1ms), 0u);
    EXPECT_EQ(deadlines.sweep(t0 + 61s), 1u);
    EXPECT_TRUE(crowding.cut());
    EXPECT_FALSE(served.cut());
    for (auto* closing : {f, s, a, l, c}) deadlines.closed(closing);
    EXPECT_EQ(deadlines.open(), 0u);
}

// The HTTP library may close its descriptor before it notifies the close;
// the number may then name a new connection, which the sweep must not touch.
TEST(RequestDeadlines, ADescriptorClosedAndReusedBeforeTheNotificationIsNotCut) {
    using Clock = RequestDeadlines::Clock;
    const auto t0 = Clock::now();
    RequestDeadlines deadlines({5s, 5s, 100});
    auto old_pair = std::make_unique<Pair>();
    const int number = old_pair->ours;
    auto* c = deadlines.opened(number, t0);
    ASSERT_TRUE(c);
    old_pair.reset(); // both ends closed, the number is free again
    Pair reused;
    ASSERT_EQ(reused.ours, number);
    EXPECT_EQ(deadlines.sweep(t0 + 6s), 1u);
    EXPECT_FALSE(reused.cut());
    deadlines.closed(c);
}

TEST(ListenAddress, Forms) {
    struct Case {
        const char* text;
        bool valid;
        const char* host;
        int port;
    } cases[] = {
        {"127.0.0.1:9745", true, "127.0.0.1", 9745}, {"[::1]:80", true, "::1", 80},
        {":9745", true, "", 9745},                   {"localhost:0", true, "localhost", 0},
        {"127.0.0.1", false, "", 0},                 {"127.0.0.1:", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},           {"127.0.0.1:-1", false, "", 0},
        {"127.0.0.1:80x", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto parsed = parse_listen_address(c.text);
        ASSERT_EQ(parsed.has_value(), c.valid);
        if (!parsed) continue;
        EXPECT_EQ(parsed->host, c.host);
        EXPECT_EQ(parsed->port, c.port);
    }
}

// GET /metrics on 127.0.0.1:port, the whole answer.
std::string scrape(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, size_t(n));
        }
    }
    close(fd);
    return answer;
}

// A scrape is suspended while the platform is read and resumed with the
// reading; one still waiting when the server stops gets up 0 at once (the
// HTTP library must never be stopped with a connection suspended).
TEST(HttpServer, SuspendedScrapeIsAnsweredByTheReadingOrByTheStop) {
    struct Case {
        bool read_before_stop;
        const char* up;
    } cases[] = {{true, "\nvelkdirect_up 1\n"}, {false, "\nvelkdirect_up 0\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.up);
        HeldReading held;
        SharedReading shared(held.read());
        ListeningSocket socket = listen_on({"127.0.0.1", 0});
        ASSERT_GE(socket.fd, 0) << socket.error;
        std::future<std::string> answer;
        {
            HttpServer server(socket.fd, shared, 600s); // only the stop answers it early
            answer = std::async(std::launch::async, scrape, socket.port);
            while (!shared.busy()) std::this_thread::sleep_for(1ms); // it is suspended
            if (c.read_before_stop) {
                held.release.set_value();
                ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
            }
        }
        ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
        std::string text = answer.get();
        EXPECT_TRUE(text.starts_with("HTTP/1.1 200 ")) << text;
        EXPECT_NE(text.find("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"), std::string::npos);
        EXPECT_NE(text.find(c.up), std::string::npos) << text;
        if (!c.read_before_stop) held.release.set_value();
    }
}

} // namespace
} // namespace velkdirect::exporter
