#include "safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace velkd {
namespace {

// The real path of `file`, which must lie under the real path of `base_dir`:
// both with every link, "." and ".." resolved, so that neither a link nor a
// relative --config leads outside.
std::filesystem::path confined(const std::filesystem::path& base_dir, const std::filesystem::path& file) {
    std::error_code error;
    std::filesystem::path dir = std::filesystem::canonical(base_dir, error);
    // A file that does not exist resolves as far as it does; opening it then
    // says what is missing.
    std::filesystem::path real = error ? std::filesystem::path() : std::filesystem::weakly_canonical(file, error);
    auto [d, f] = std::mismatch(dir.begin(), dir.end(), real.begin(), real.end());
    if (error || dir.empty() || d != dir.end() || f == real.end())
        throw FileProblem(fmt::format("data_file {} is not under the description's directory {} "
                                      "(an absolute path needs 'data_file_outside = true')",
                                      file.string(), dir.empty() ? base_dir.string() : dir.string()));
    return real;
}

} // namespace

std::vector<uint8_t> read_data_file(const std::filesystem::path& base_dir, const std::filesystem::path& named,
                                    bool outside, std::size_t most) {
    std::filesystem::path file = base_dir / named;
    if (outside) {
        if (!named.is_absolute())
            throw FileProblem("with 'data_file_outside', 'data_file' must be an absolute path");
    } else {
        file = confined(base_dir, file);
    }
    // Never wait on a FIFO or a device; never follow a link put in place of
    // the file the check above resolved.
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (outside ? 0 : O_NOFOLLOW));
    if (fd < 0) throw FileProblem(fmt::format("cannot read data_file {}: {}", file.string(), std::strerror(errno)));
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw FileProblem(fmt::format("data_file {} is not a regular file", file.string()));
    }
    if (static_cast<std::size_t>(st.st_size) > most) {
        ::close(fd);
        throw FileProblem(fmt::format("data area too large: {} holds more than {} bytes", file.string(), most));
    }
    std::vector<uint8_t> data(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    data.resize(done);
    return data;
}

TextFile read_text_file(const std::filesystem::path& file, std::size_t most) {
    // A bare name has no parent path of its own, and a link may lead elsewhere:
    // the directory is the one that really holds the file.
    std::error_code error;
    std::filesystem::path real = std::filesystem::canonical(file, error);
    std::ifstream in;
    if (!error) in.open(real, std::ios::binary);
    if (error || !in) throw FileProblem(fmt::format("{}: cannot open the description file", file.string()));
    TextFile out;
    char chunk[64 * 1024];
    while (out.text.size() <= most && in.read(chunk, sizeof chunk).gcount() > 0)
        out.text.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (out.text.size() > most + 1) out.text.resize(most + 1);
    out.real_dir = real.parent_path();
    return out;
}

} // namespace velkd
