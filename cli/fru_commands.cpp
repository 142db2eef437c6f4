// frus, fru NAME read, fru NAME write, fru NAME decode.
#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "arguments.h"
#include "commands.h"
#include "call_failure.h"
#include "calls.h"
#include "fru_decode.h"
#include "text_format.h"

namespace velk::cli {
namespace {

// CLI11 leaves the FRU's name out of the usage line of `fru NAME read`.
class UsageWithName : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override {
        std::string usage = CLI::Formatter::make_usage(app, std::move(name));
        std::string plain = " fru " + app->get_name();
        if (auto at = usage.find(plain); at != std::string::npos) usage.insert(at + 5, "NAME ");
        return usage;
    }
};

std::vector<uint8_t> read_file(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw Failure(fmt::format("cannot read {}: it is a directory", path));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure(fmt::format("cannot read {}", path));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure(fmt::format("cannot read {}", path));
    return bytes;
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw Failure(fmt::format("cannot write {}", path));
}

void add_fru(CLI::App& app, Context& ctx) {
    auto* fru = app.add_subcommand("fru", "read, write or decode one FRU's data area");
    fru->require_subcommand(1);
    auto name = std::make_shared<std::string>();
    fru->add_option("name", *name, "the FRU's name")->required();
    auto usage = std::make_shared<UsageWithName>();

    struct ReadArgs {
        uint32_t offset = 0;
        std::optional<uint32_t> length;
        std::string file;
    };
    auto read = std::make_shared<ReadArgs>();
    auto* read_cmd = fru->add_subcommand("read", "fru NAME read: a hex dump of the data area");
    read_cmd->formatter(usage);
    read_cmd->add_option("--offset", read->offset, "first byte (0x.. for hex)")->capture_default_str();
    read_cmd->add_option("--length", read->length, "number of bytes (default: to the end)");
    read_cmd->add_option("--file", read->file, "write the bytes, as they are, to this file instead of a hex dump");
    add_json_flag(read_cmd, ctx);
    on_run(read_cmd, ctx, [&ctx, name, read] {
        uint32_t length = 0;
        if (read->length) {
            length = *read->length;
        } else {
            FruDesc attr = fetch_fru(*name);
            // Past the end there is nothing to read "to the end": the daemon
            // would answer no bytes, which would look like an empty area.
            if (read->offset > attr.size)
                throw Failure(fmt::format("FRU \"{}\": offset {} is past the end of its {}-byte data area", *name,
                                          read->offset, attr.size));
            length = attr.size - read->offset;
        }
        std::vector<uint8_t> data;
        try {
            data = read_fru(*name, read->offset, length);
        } catch (const CallError& e) {
            if (e.status() != velk::protocol::kOutOfRange) throw;
            // Say what the range is: the area's size.
            throw Failure(fmt::format("FRU \"{}\": bytes {} to {} are out of range (status {}): its data area is "
                                      "{} bytes",
                                      *name, read->offset, uint64_t{read->offset} + length - 1, e.status(),
                                      fetch_fru(*name).size));
        }
        if (data.size() < length)
            throw Failure(fmt::format("FRU \"{}\": the daemon answered {} of {} bytes", *name, data.size(), length));
        Json doc = {{"name", *name}, {"offset", read->offset}, {"length", data.size()}};
        if (!read->file.empty()) {
            write_file(read->file, data);
            doc["file"] = read->file;
            print(ctx, fmt::format("{}: {} bytes from offset {:#x} written to {}\n", *name, data.size(), read->offset,
                                   read->file),
                  doc);
            return;
        }
        doc["data"] = fmt::format("{:02x}", fmt::join(data, ""));
        print(ctx, hex_dump(data, read->offset), doc);
    });

    struct WriteArgs {
        uint32_t offset = 0;
        std::vector<std::string> hex;
        std::string file;
    };
    auto write = std::make_shared<WriteArgs>();
    auto* write_cmd = fru->add_subcommand(
        "write", "fru NAME write --offset N (HEXBYTES | --file FILE): write bytes into the data area");
    write_cmd->formatter(usage);
    write_cmd->add_option("--offset", write->offset, "first byte to write (0x.. for hex)")->required();
    auto* bytes_opt = write_cmd->add_option("bytes", write->hex, "the bytes in hex, e.g. \"de ad be ef\" or deadbeef")
                          ->check(checked_by(parse_hex_bytes, "HEXBYTES"));
    auto* file_opt = write_cmd->add_option("--file", write->file, "write the bytes of this file, as they are");
    bytes_opt->excludes(file_opt);
    add_json_flag(write_cmd, ctx);
    on_run(write_cmd, ctx, [&ctx, name, write] {
        std::vector<uint8_t> bytes;
        if (!write->file.empty()) {
            bytes = read_file(write->file);
            if (bytes.empty()) throw Failure(fmt::format("{} is empty: no bytes to write", write->file));
        } else {
            if (write->hex.empty()) throw CLI::RequiredError("HEXBYTES or --file");
            for (const std::string& part : write->hex) {
                auto more = parse_hex_bytes(part);
                bytes.insert(bytes.end(), more.begin(), more.end());
            }
        }
        int32_t written = write_fru(*name, write->offset, bytes);
        if (written != static_cast<int32_t>(bytes.size()))
            throw Failure(fmt::format("FRU \"{}\": the daemon wrote {} of {} bytes", *name, written, bytes.size()));
        print(ctx, fmt::format("{}: wrote {} bytes at offset {:#x}\n", *name, written, write->offset),
              Json{{"name", *name}, {"offset", write->offset}, {"written", written}});
    });

    auto* decode_cmd = fru->add_subcommand(
        "decode", "fru NAME decode: the common header and the chassis, board and product areas, as "
                  "`ipmitool fru print` shows them; checksums are verified");
    decode_cmd->formatter(usage);
    decode_cmd->footer("Exits 1 after printing when a checksum fails or an area cannot be decoded; such an "
                       "area is shown as hex with the reason.");
    add_json_flag(decode_cmd, ctx);
    on_run(decode_cmd, ctx, [&ctx, name] {
        FruDesc attr = fetch_fru(*name);
        std::vector<uint8_t> data = read_fru(*name, 0, attr.size);
        FruImage image = decode_fru(data);
        print(ctx, fru_image_text(*name, image), to_json(image));
        if (!image.problems.empty())
            throw Failure(fmt::format("FRU \"{}\": {}", *name, fmt::join(image.problems, "; ")));
    });
}

} // namespace

void add_fru_commands(CLI::App& app, Context& ctx) {
    add_list_command(app, ctx, "frus", "every field-replaceable unit", fetch_frus, fru_table);
    add_fru(app, ctx);
}

} // namespace velk::cli
