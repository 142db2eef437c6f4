#include "private_tmp.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vdfe::test {
namespace {

bool fail(const char* what) {
    std::fprintf(stderr, "private /tmp: %s: %s (the tests need root)\n", what, std::strerror(errno));
    return false;
}

// The entry of /tmp that holds path ("/tmp/clone/build" gives "clone").
void note_tmp_entry(const std::string& path, std::set<std::string>& entries) {
    const std::string prefix = "/tmp/";
    if (path.compare(0, prefix.size(), prefix) != 0) return;
    std::string entry = path.substr(prefix.size(), path.find('/', prefix.size()) - prefix.size());
    if (!entry.empty()) entries.insert(entry);
}

} // namespace

bool enter_private_tmp(const std::vector<std::string>& also_keep) {
    // A build tree that itself lives under /tmp must stay reachable: the
    // tests run the daemon and the tool from it.
    std::set<std::string> keep;
    for (const std::string& path : also_keep) note_tmp_entry(path, keep);
    char path[PATH_MAX];
    if (getcwd(path, sizeof path)) note_tmp_entry(path, keep);
    if (realpath("/proc/self/exe", path)) note_tmp_entry(path, keep);

    if (unshare(CLONE_NEWNS) != 0) return fail("unshare(CLONE_NEWNS)");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("make / private");
    int real_tmp = open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (real_tmp < 0) return fail("open /tmp");
    if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777,size=256m") != 0) return fail("mount tmpfs on /tmp");
    for (const std::string& entry : keep) {
        std::string source = "/proc/self/fd/" + std::to_string(real_tmp) + "/" + entry;
        std::string target = "/tmp/" + entry;
        if (mkdir(target.c_str(), 0755) != 0 ||
            mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            return fail(("bind " + target + " back").c_str());
    }
    close(real_tmp);
    return true;
}

} // namespace vdfe::test
