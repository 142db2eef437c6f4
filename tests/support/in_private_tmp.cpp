// Runs a command in a private /tmp, for tests that are scripts:
//   in_private_tmp COMMAND [ARG...]
// Arguments that are paths under the real /tmp stay reachable.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "private_tmp.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: in_private_tmp COMMAND [ARG...]\n");
        return 2;
    }
    std::vector<std::string> paths(argv + 1, argv + argc);
    if (!vdfe::test::enter_private_tmp(paths)) return 1;
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "in_private_tmp: %s: %s\n", argv[1], std::strerror(errno));
    return 127;
}
