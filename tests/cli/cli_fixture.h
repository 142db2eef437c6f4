// velkdirect run as a user or a script would, against the velkd-sim each
// end-to-end test starts on the built-in platform in its private /tmp.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "daemon_process.h"
#include "process_runner.h"

namespace velk::cli::test {

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

// The part of a JSON document at `where`: '.'-separated steps, each a key, an
// index, "KEY=VALUE" (the first array element with that field) or "#" (the size).
inline json at(json doc, const std::string& where) {
    std::istringstream steps(where);
    for (std::string step; std::getline(steps, step, '.');) {
        auto eq = step.find('=');
        if (step == "#") doc = doc.size();
        else if (eq != std::string::npos) doc = find_by(doc, step.substr(0, eq), step.substr(eq + 1));
        else if (doc.is_array()) doc = doc.at(std::stoul(step));
        else doc = doc.value(step, json());
    }
    return doc;
}

struct Row {
    std::vector<std::string> args;
    // In the --json document; for the text output "=" (the whole of it), "~" (a part
    // of it), "~ " (a part of it with runs of spaces made one, as columns move) or
    // "!~" (not a part of it).
    std::string where;
    json expected; // an object is compared key by key (the document may hold more)
    int code = 0;
};

// Runs each row's command (once for all rows alike when `reuse`) and checks
// its exit status and what it shows. Returns the documents by arguments.
inline std::map<std::vector<std::string>, json> expect_rows(const std::vector<Row>& rows, bool reuse) {
    std::map<std::vector<std::string>, json> docs;
    for (const Row& row : rows) {
        std::string what;
        for (const std::string& a : row.args) what += a + " ";
        SCOPED_TRACE(what + row.where);
        bool text = row.where == "=" || row.where.find('~') != std::string::npos;
        std::vector<std::string> args = row.args;
        if (!text) args.push_back("--json");
        if (!reuse || !docs.contains(args)) {
            Result run = velkdirect(args);
            EXPECT_EQ(run.code, row.code) << run.err;
            docs[args] = text ? json(run.out) : json::parse(run.out, nullptr, false);
        }
        json found = text ? docs[args] : at(docs[args], row.where);
        if (row.where == "~ ") {
            std::string folded;
            for (char c : found.get<std::string>())
                if (c != ' ' || !folded.ends_with(' ')) folded += c;
            found = folded;
        }
        if (text && row.where != "=")
            EXPECT_EQ(contains(found, row.expected), row.where != "!~") << found.get<std::string>();
        else if (row.expected.is_object() && !row.expected.empty())
            for (const auto& [k, value] : row.expected.items()) EXPECT_EQ(found[k], value) << k;
        else
            EXPECT_EQ(found, row.expected);
    }
    return docs;
}

class CliTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon.ready()) << daemon.log(); }
    velkd::test::DaemonProcess daemon;
};

} // namespace velk::cli::test
