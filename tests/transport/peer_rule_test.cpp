// The peer rule of a library built to trust a daemon account as well
// (VELKDIRECTFE_DAEMON_USER="vdt10daemon" for this binary only).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "transport/connection.h"

namespace {

uid_t account(const std::string& name) {
    for (int tries = 0; tries < 100; ++tries) {
        if (passwd* entry = getpwnam(name.c_str())) return entry->pw_uid;
        std::string command = "useradd --system --user-group --no-create-home --shell /usr/sbin/nologin " + name +
                              " >/dev/null 2>&1";
        [[maybe_unused]] int rc = std::system(command.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // another test may hold the lock
    }
    ADD_FAILURE() << "cannot create user " << name;
    return 0;
}

TEST(PeerRule, RootTheCallersUserAndTheBuildTimeAccountOnly) {
    EXPECT_TRUE(vdfe::peer_is_trusted(0));
    EXPECT_TRUE(vdfe::peer_is_trusted(geteuid()));
    EXPECT_TRUE(vdfe::peer_is_trusted(account("vdt10daemon")));
    EXPECT_FALSE(vdfe::peer_is_trusted(account("vdt10peer")));
    EXPECT_FALSE(vdfe::peer_is_trusted(65534));
}

} // namespace
