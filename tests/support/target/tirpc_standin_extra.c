/* TEST-ONLY, NEVER SHIPPED: part of the stand-in libtirpc.so.3 that the
 * target test run (scripts/target-test.sh) builds for powerpc-linux-gnu.
 *
 * The stand-in forwards libtirpc's function names to the Sun RPC that the
 * powerpc glibc still carries as compatibility symbols (see
 * tirpc_standin.sh). This file adds what glibc has under other names:
 *
 *   svc_vc_create   libtirpc's server transport on a listening socket the
 *                   caller bound; glibc has svcunix_create / svctcp_create,
 *                   which accept an already bound socket (their own bind
 *                   then fails harmlessly) and listen on it.
 *   __rpc_thread_svc_pollfd, __rpc_thread_svc_max_pollfd
 *                   glibc keeps the server's poll set per thread behind
 *                   these accessors instead of libtirpc's process-wide
 *                   svc_pollfd / svc_max_pollfd variables. The test daemon
 *                   uses them when built with VELKDIRECTFE_TIRPC_STANDIN.
 *   _null_auth      the null verifier (all zero), a data symbol.
 */
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>

struct opaque_auth_standin { int flavor; void *base; unsigned length; };
struct opaque_auth_standin _null_auth;

typedef struct SVCXPRT_standin SVCXPRT_standin;
extern SVCXPRT_standin *glibc_svcunix_create(int, unsigned, unsigned, char *);
extern SVCXPRT_standin *glibc_svctcp_create(int, unsigned, unsigned);
__asm__(".symver glibc_svcunix_create,svcunix_create@GLIBC_2.1");
__asm__(".symver glibc_svctcp_create,svctcp_create@GLIBC_2.0");

SVCXPRT_standin *svc_vc_create(int fd, unsigned sendsize, unsigned recvsize) {
    struct sockaddr_un address;
    socklen_t length = sizeof address;
    memset(&address, 0, sizeof address);
    if (getsockname(fd, (struct sockaddr *)&address, &length) != 0) return 0;
    if (address.sun_family == AF_UNIX) return glibc_svcunix_create(fd, sendsize, recvsize, address.sun_path);
    return glibc_svctcp_create(fd, sendsize, recvsize);
}

struct pollfd;
extern struct pollfd **glibc_svc_pollfd(void);
extern int *glibc_svc_max_pollfd(void);
__asm__(".symver glibc_svc_pollfd,__rpc_thread_svc_pollfd@GLIBC_2.2.3");
__asm__(".symver glibc_svc_max_pollfd,__rpc_thread_svc_max_pollfd@GLIBC_2.2.3");
struct pollfd **__rpc_thread_svc_pollfd(void) { return glibc_svc_pollfd(); }
int *__rpc_thread_svc_max_pollfd(void) { return glibc_svc_max_pollfd(); }
