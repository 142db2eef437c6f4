// Every test process gets a mount namespace of its own with a fresh tmpfs on
// /tmp, so the library's fixed socket path is used for real while tests run
// in parallel and the machine's own socket is never touched.
#pragma once

namespace vdfe::test {

// Must run before any thread starts. Needs root. Returns false on failure.
bool enter_private_tmp();

} // namespace vdfe::test
