// gtest main for end-to-end tests: each test process runs with its own /tmp.
#include <gtest/gtest.h>

#include "private_tmp.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests) && !vdfe::test::enter_private_tmp()) return 1;
    return RUN_ALL_TESTS();
}
