#include "listen_address.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

namespace velkdirect::exporter {

namespace {

constexpr int kBacklog = 128;

int bound_port(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

} // namespace

std::optional<ListenAddress> parse_listen_address(const std::string& text) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    ListenAddress out;
    out.host = text.substr(0, colon);
    if (out.host.size() >= 2 && out.host.front() == '[' && out.host.back() == ']')
        out.host = out.host.substr(1, out.host.size() - 2);
    std::string port = text.substr(colon + 1);
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), out.port);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || out.port < 0 || out.port > 65535)
        return std::nullopt;
    return out;
}

ListeningSocket listen_on(const ListenAddress& address) {
    // Every address: IPv6's wildcard taking IPv4 too where the host has IPv6,
    // else IPv4's.
    if (address.host.empty()) {
        ListeningSocket both = listen_on({"::", address.port});
        return both.fd >= 0 ? both : listen_on({"0.0.0.0", address.port});
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (int rc = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); rc != 0)
        return {-1, 0, gai_strerror(rc), {}};
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);

    ListeningSocket out{-1, 0, "no address", {}};
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) {
            out.error = std::strerror(errno);
            continue;
        }
        // SO_REUSEADDR only lets a restart bind while old connections linger
        // in TIME_WAIT; it never lets two listeners share the port.
        int yes = 1, no = 0;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (ai->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, kBacklog) == 0) {
            out.fd = fd;
            out.port = bound_port(fd);
            out.host = address.host;
            out.error.clear();
            return out;
        }
        out.error = std::strerror(errno);
        close(fd);
    }
    return out;
}

} // namespace velkdirect::exporter
