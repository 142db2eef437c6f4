// A failed library call as C++ sees it, and what lies behind one: the
// library says only -1 for every local failure, so the diagnosis looks at
// the socket itself and names the cause in words.
#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "daemon_status.h"
#include "velkdirectfe.h"

namespace velk::client {

// How long the library gives one call with the daemon.
inline constexpr std::chrono::seconds kCallLimit{VELKDIRECTFE_CALL_SECONDS};

// A library call that returned non-zero. Status -1 is a local failure (no
// daemon, a broken call); any other value is the daemon's own answer.
class CallError : public std::runtime_error {
public:
    CallError(int status, const std::string& subject);
    int status() const { return status_; }
    const std::string& subject() const { return subject_; }

private:
    int status_;
    std::string subject_;
};

// Throws CallError for any status but 0. `subject` names what the call was
// about (`sensor "cpu0_temp"`), or is empty for calls about the whole platform.
void check(int status, std::string_view subject);

// The daemon's status values in words; empty for a value it does not define.
using velk::protocol::status_words;
// "unknown object (status 1)", or "status 99" for a value without words.
std::string status_text(int status);

// The socket the library calls: VELKDIRECT_SOCKET when the environment names
// one (and the program is not set-id), else the fixed path.
std::string socket_path();
// "cannot reach the management daemon at PATH"
std::string unreachable_text();

// When the daemon serving the socket runs as a user the library does not
// talk to: who serves it and whom the library trusts, in words. Nothing when
// the daemon cannot be reached or is trusted.
std::optional<std::string> untrusted_daemon();

// What lies behind a -1: no socket file, permission denied, nothing
// listening, a daemon run by a user the library does not trust, or a daemon
// that accepted the call and then failed it (no answer within kCallLimit, or
// an answer that is not this protocol's). Looks at the socket now; `waited`
// is how long the failing command ran.
std::string diagnose_local_failure(const std::string& subject, std::chrono::milliseconds waited);

} // namespace velk::client
