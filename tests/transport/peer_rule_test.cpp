// The peer rule of a library built to trust a daemon account as well
// (VELKDIRECTFE_DAEMON_USER="vdt10daemon" for this binary only).
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "test_daemon.h"
#include "transport/connection.h"

TEST(PeerRule, RootTheCallersUserAndTheBuildTimeAccountOnly) {
    EXPECT_TRUE(vdfe::peer_is_trusted(0));
    EXPECT_TRUE(vdfe::peer_is_trusted(geteuid()));
    EXPECT_TRUE(vdfe::peer_is_trusted(vdfe::test::test_user("vdt10daemon").uid));
    EXPECT_FALSE(vdfe::peer_is_trusted(vdfe::test::test_user("vdt10peer").uid));
    EXPECT_FALSE(vdfe::peer_is_trusted(65534));
}

// An account whose passwd entry is far longer than a first lookup buffer (a
// long comment field) is still the account. The entry is written into a copy
// of /etc/passwd that is mounted over it in this test's own namespace only.
TEST(PeerRule, AccountWithAVeryLongEntryIsRecognised) {
    std::ifstream real("/etc/passwd");
    std::ofstream copy("/tmp/passwd");
    for (std::string line; std::getline(real, line);)
        if (line.rfind("vdt10daemon:", 0) != 0) copy << line << '\n';
    copy << "vdt10daemon:x:3999999:3999999:" << std::string(100000, 'g') << ":/nonexistent:/usr/sbin/nologin\n";
    copy.close();
    ASSERT_EQ(mount("/tmp/passwd", "/etc/passwd", nullptr, MS_BIND, nullptr), 0);
    EXPECT_TRUE(vdfe::peer_is_trusted(3999999));
    EXPECT_FALSE(vdfe::peer_is_trusted(3999998));
    umount("/etc/passwd");
}
