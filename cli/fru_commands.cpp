// frus, fru NAME read, fru NAME write.
#include <fmt/format.h>

#include "arguments.h"
#include "commands.h"
#include "daemon_client.h"
#include "text_format.h"

namespace velkdirect {
namespace {

void add_fru(CLI::App& app, Context& ctx) {
    auto* fru = app.add_subcommand("fru", "read or write one FRU's data area");
    fru->require_subcommand(1);
    auto name = std::make_shared<std::string>();
    fru->add_option("name", *name, "the FRU's name")->required();

    struct ReadArgs {
        uint32_t offset = 0;
        std::optional<uint32_t> length;
    };
    auto read = std::make_shared<ReadArgs>();
    auto* read_cmd = fru->add_subcommand("read", "fru NAME read: a hex dump of the data area");
    read_cmd->add_option("--offset", read->offset, "first byte (0x.. for hex)")->capture_default_str();
    read_cmd->add_option("--length", read->length, "number of bytes (default: to the end)");
    add_json_flag(read_cmd, ctx);
    on_run(read_cmd, ctx, [&ctx, name, read] {
        uint32_t length = 0;
        if (read->length) {
            length = *read->length;
        } else {
            Fru attr = fetch_fru(*name);
            length = attr.size > read->offset ? attr.size - read->offset : 0;
        }
        std::vector<uint8_t> data = read_fru(*name, read->offset, length);
        print(ctx, hex_dump(data, read->offset),
              Json{{"name", *name},
                   {"offset", read->offset},
                   {"length", data.size()},
                   {"data", fmt::format("{:02x}", fmt::join(data, ""))}});
    });

    struct WriteArgs {
        uint32_t offset = 0;
        std::vector<std::string> hex;
    };
    auto write = std::make_shared<WriteArgs>();
    auto* write_cmd =
        fru->add_subcommand("write", "fru NAME write --offset N HEXBYTES: write bytes into the data area");
    write_cmd->add_option("--offset", write->offset, "first byte to write (0x.. for hex)")->required();
    write_cmd->add_option("bytes", write->hex, "the bytes in hex, e.g. \"de ad be ef\" or deadbeef")
        ->required()
        ->check(checked_by(parse_hex_bytes, "HEXBYTES"));
    on_run(write_cmd, ctx, [name, write] {
        std::vector<uint8_t> bytes;
        for (const std::string& part : write->hex) {
            auto more = parse_hex_bytes(part);
            bytes.insert(bytes.end(), more.begin(), more.end());
        }
        int32_t written = write_fru(*name, write->offset, bytes);
        if (written != static_cast<int32_t>(bytes.size()))
            throw Failure(fmt::format("FRU \"{}\": the daemon wrote {} of {} bytes", *name, written, bytes.size()));
        fmt::print("{}: wrote {} bytes at offset {:#x}\n", *name, written, write->offset);
    });
}

} // namespace

void add_fru_commands(CLI::App& app, Context& ctx) {
    add_list_command(app, ctx, "frus", "every field-replaceable unit", fetch_frus, fru_table);
    add_fru(app, ctx);
}

} // namespace velkdirect
