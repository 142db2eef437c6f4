// --web.listen-address: HOST:PORT, [IPV6]:PORT, or :PORT for every address;
// port 0 takes a free one. The socket is bound without SO_REUSEPORT, so an
// address another process already listens on is refused rather than shared.
#pragma once

#include <optional>
#include <string>

namespace velkdirect::exporter {

struct ListenAddress {
    std::string host; // a name or a numeric address, without brackets; empty for every address
    int port = 0;
};

std::optional<ListenAddress> parse_listen_address(const std::string& text);

struct ListeningSocket {
    int fd = -1;      // -1 when it could not be bound
    int port = 0;     // the port bound (the one chosen, for port 0)
    std::string error; // why not, when fd is -1
    std::string host;  // the host bound ("::" or "0.0.0.0" for every address)
};

// A listening socket on the first of the host's addresses that can be bound.
ListeningSocket listen_on(const ListenAddress& address);

} // namespace velkdirect::exporter
