#include "private_tmp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>

namespace vdfe::test {

bool enter_private_tmp() {
    auto fail = [](const char* what) {
        std::fprintf(stderr, "private /tmp: %s: %s (the tests need root)\n", what, std::strerror(errno));
        return false;
    };
    if (unshare(CLONE_NEWNS) != 0) return fail("unshare(CLONE_NEWNS)");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("make / private");
    if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777,size=256m") != 0) return fail("mount tmpfs on /tmp");
    return true;
}

} // namespace vdfe::test
