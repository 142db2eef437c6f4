// velkdirect run as a user or a script would, against the velkd-sim each
// end-to-end test starts on the built-in platform in its private /tmp.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "daemon_process.h"
#include "process_runner.h"

namespace velkdirect::test {

using nlohmann::json;
using vdfe::test::Result;
using vdfe::test::run_program;

inline Result velkdirect(const std::vector<std::string>& args) { return run_program(VELKDIRECT_PATH, args); }

// `velkdirect args... --json` that must succeed: its output parsed, or null
// (and the test failed) when it does not run or parse.
inline json velkdirect_json(std::vector<std::string> args) {
    args.push_back("--json");
    Result run = velkdirect(args);
    EXPECT_EQ(run.code, 0) << run.err;
    json doc = json::parse(run.out, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << run.out;
    return run.code == 0 && !doc.is_discarded() ? doc : json(nullptr);
}

// A run that must end with `code`, saying `words` on stderr and nothing on stdout.
inline void expect_run(const std::vector<std::string>& args, int code, const std::string& words) {
    Result run = velkdirect(args);
    EXPECT_EQ(run.code, code) << run.err;
    EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The first element of a JSON array whose `key` is `value`.
inline json find_by(const json& array, const std::string& key, const std::string& value) {
    for (const json& item : array)
        if (item.value(key, "") == value) return item;
    ADD_FAILURE() << "no element with " << key << " = " << value;
    return json::object();
}

class CliTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon.ready()) << daemon.log(); }
    velkd::test::DaemonProcess daemon;
};

} // namespace velkdirect::test
