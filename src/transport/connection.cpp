#include "connection.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "bounded_copy.h"
#include "velkdirectfe_wire.h"

namespace vdfe {

namespace {

constexpr int kAttempts = 3;

// libtirpc 1.3.3 makes its shared AUTH_NONE handle lazily and racily: threads
// that create their first clients at the same moment each allocate one, and
// all but one are lost. Making it once, when the library is loaded, closes
// that window; the handle is libtirpc's and lives as long as the process.
__attribute__((constructor)) void create_shared_null_auth() { authnone_create(); }

} // namespace

Client connect_with_retry() noexcept {
    int sock = RPC_ANYSOCK; // the RPC layer creates and connects the socket
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        sockaddr_un address;
        std::memset(&address, 0, sizeof address);
        bounded_copy(address.sun_path, VELKD_SOCKET_PATH, sizeof address.sun_path);
        address.sun_family = AF_UNIX;
        CLIENT* client = clntunix_create(&address, VELKD_PROG, VELKD_VERS, &sock, 0, 0);
        if (client != nullptr) {
            // libtirpc leaves a socket it created open on destroy unless told.
            clnt_control(client, CLSET_FD_CLOSE, nullptr);
            return Client(client);
        }
        if (attempt < kAttempts) {
            sleep(1);
            sock = RPC_ANYSOCK;
        }
    }
    return Client();
}

} // namespace vdfe
