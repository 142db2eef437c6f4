// Reading the files a description names, and the description itself,
// without being led astray: never waiting on a FIFO or a device, never
// following a link put in place of a file checked, never reading more than
// the limit, never outside the description's directory unless allowed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkd {

// Why a file was not read, as a message for the description's problem list.
class FileProblem : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A FRU's data file: `named` relative to `base_dir`, whose real path it must
// stay under (every link, "." and ".." resolved), or, with `outside`, an
// absolute path anywhere. A regular file of at most `most` bytes.
std::vector<uint8_t> read_data_file(const std::filesystem::path& base_dir, const std::filesystem::path& named,
                                    bool outside, std::size_t most);

// The first `most` + 1 bytes of a file (one more than allowed is enough to
// refuse it), with the directory that really holds it (links resolved).
struct TextFile {
    std::string text;
    std::filesystem::path real_dir;
};
TextFile read_text_file(const std::filesystem::path& file, std::size_t most);

} // namespace velkd
