// Each end-to-end test starts its own velkd-sim on the built-in platform in
// the test process's private /tmp, and runs velkdirect against it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_runner.h"
#include "daemon_process.h"

namespace velkdirect::test {

using nlohmann::json;

class CliTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon.ready()) << daemon.log(); }

    // A run that must fail with `code`, saying `words` on stderr and nothing on stdout.
    static void expect_failure(const std::vector<std::string>& args, int code, const std::string& words) {
        Result run = velkdirect(args);
        EXPECT_EQ(run.code, code) << run.err;
        EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }

    velkd::test::DaemonProcess daemon;
};

// The elements of a JSON array whose `key` is `value`; the first one.
inline json find_by(const json& array, const std::string& key, const std::string& value) {
    for (const json& item : array)
        if (item.value(key, "") == value) return item;
    ADD_FAILURE() << "no element with " << key << " = " << value;
    return json::object();
}

} // namespace velkdirect::test
