// Every test process gets a mount namespace of its own with a fresh tmpfs on
// /tmp, so the library's fixed socket path is used for real while tests run
// in parallel and the machine's own socket is never touched.
#pragma once

#include <string>
#include <vector>

namespace vdfe::test {

// Must run before any thread starts. Needs root. Returns false on failure.
// The working directory, the running program and `also_keep` stay reachable
// when they lie under the real /tmp (a build tree there, say).
bool enter_private_tmp(const std::vector<std::string>& also_keep = {});

} // namespace vdfe::test
