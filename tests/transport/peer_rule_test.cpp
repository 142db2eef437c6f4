// The peer rule of a library built to trust a daemon account as well
// (VELKDIRECTFE_DAEMON_USER="vdt10daemon" for this binary only).
#include <gtest/gtest.h>

#include <unistd.h>

#include "test_daemon.h"
#include "transport/connection.h"

TEST(PeerRule, RootTheCallersUserAndTheBuildTimeAccountOnly) {
    EXPECT_TRUE(vdfe::peer_is_trusted(0));
    EXPECT_TRUE(vdfe::peer_is_trusted(geteuid()));
    EXPECT_TRUE(vdfe::peer_is_trusted(vdfe::test::test_user("vdt10daemon").uid));
    EXPECT_FALSE(vdfe::peer_is_trusted(vdfe::test::test_user("vdt10peer").uid));
    EXPECT_FALSE(vdfe::peer_is_trusted(65534));
}
