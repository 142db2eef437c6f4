// Runs the velkdirect binary as a child process, as a user or a script
// would, and captures what it prints.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace velkdirect::test {

struct Result {
    int code = -1; // exit code; -1 when it did not exit by itself
    std::string out;
    std::string err;
};

// `velkdirect args...`, waited for (bounded).
Result velkdirect(const std::vector<std::string>& args);

// `velkdirect args... --json` that must succeed; its output parsed. A failed
// run or unparsable output fails the test and gives a null document.
nlohmann::json velkdirect_json(std::vector<std::string> args);

// Any program with arguments, stdout and stderr captured the same way.
Result run_program(const std::string& program, const std::vector<std::string>& args);

} // namespace velkdirect::test
