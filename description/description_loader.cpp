#include "description_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "fru_areas.h"
#include "procedure_names.h"
#include "daemon_status.h"

namespace velkd {

using enum velk::protocol::Status;
using velk::protocol::kProcedureCount;
using velk::protocol::procedure_number;
namespace {

std::string_view type_name(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a float";
    case toml::node_type::boolean: return "a boolean";
    default: return "a date or time";
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads one TOML table, remembering which keys were asked for, so that every
// key left over afterwards is reported as unknown with its own line.
class Reader {
public:
    Reader(const std::string& source, const toml::table& table, std::string context)
        : source_(source), table_(table), context_(std::move(context)) {}

    void set_context(std::string context) { context_ = std::move(context); }
    const std::string& context() const { return context_; }

    [[noreturn]] void fail_at(const toml::source_region& where, std::string_view problem) const {
        throw LoadError(fmt::format("{}:{}:{}: {}{}{}", source_, where.begin.line, where.begin.column,
                                    context_, context_.empty() ? "" : ": ", problem));
    }
    [[noreturn]] void fail(std::string_view problem) const { fail_at(table_.source(), problem); }

    const toml::node* find(std::string_view key) {
        seen_.insert(std::string(key));
        return table_.get(key);
    }

    const toml::node& need(std::string_view key) {
        const toml::node* node = find(key);
        if (node == nullptr) fail(fmt::format("missing key '{}'", key));
        return *node;
    }

    void finish() const {
        for (auto&& [key, value] : table_)
            if (!seen_.contains(std::string(key.str())))
                fail_at(key.source(), fmt::format("unknown key '{}'", key.str()));
    }

    // ---- typed values -------------------------------------------------------

    // Every string: a NUL inside would make a name that no call can
    // address, and the length cap bounds what each reply costs.
    std::string string(std::string_view key, const toml::node& node, std::size_t most = kMaxStringBytes) const {
        if (!node.is_string()) wrong_type(key, node, "a string");
        const std::string& value = node.as_string()->get();
        if (value.find('\0') != std::string::npos)
            fail_at(node.source(), fmt::format("'{}' must not contain a NUL character", key));
        if (value.size() > most)
            fail_at(node.source(), fmt::format("'{}' is {} bytes long, at most {}", key, value.size(), most));
        return value;
    }

    int64_t integer(std::string_view key, const toml::node& node, int64_t lo, int64_t hi) const {
        if (!node.is_integer()) wrong_type(key, node, "an integer");
        int64_t value = node.as_integer()->get();
        if (value < lo || value > hi)
            fail_at(node.source(), fmt::format("'{}' is {}, must be {} to {}", key, value, lo, hi));
        return value;
    }

    // Every number is kept as a float: NaN, the infinities and values beyond
    // a float's range are refused.
    double number(std::string_view key, const toml::node& node) const {
        if (node.is_integer()) return static_cast<double>(node.as_integer()->get());
        if (!node.is_floating_point()) wrong_type(key, node, "a number");
        double value = node.as_floating_point()->get();
        if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
            fail_at(node.source(), fmt::format("'{}' must be a finite number within a float's range", key));
        return value;
    }

    bool boolean(std::string_view key, const toml::node& node) const {
        if (!node.is_boolean()) wrong_type(key, node, "true or false");
        return node.as_boolean()->get();
    }

    const toml::table& table(std::string_view key, const toml::node& node) const {
        if (!node.is_table()) wrong_type(key, node, "a table");
        return *node.as_table();
    }

    const toml::array& array(std::string_view key, const toml::node& node) const {
        if (!node.is_array()) wrong_type(key, node, "an array");
        return *node.as_array();
    }

    // ---- keys that may be absent --------------------------------------------

    std::string string_or(std::string_view key, std::string fallback) {
        const toml::node* node = find(key);
        return node ? string(key, *node) : fallback;
    }
    int64_t integer_or(std::string_view key, int64_t lo, int64_t hi, int64_t fallback) {
        const toml::node* node = find(key);
        return node ? integer(key, *node, lo, hi) : fallback;
    }
    bool boolean_or(std::string_view key, bool fallback) {
        const toml::node* node = find(key);
        return node ? boolean(key, *node) : fallback;
    }
    std::string required_string(std::string_view key) {
        std::string value = string(key, need(key));
        if (value.empty()) fail_at(table_.get(key)->source(), fmt::format("'{}' must not be empty", key));
        return value;
    }
    double required_number(std::string_view key) { return number(key, need(key)); }

    // A nested table read with the same context.
    Reader nested(std::string_view key) {
        return Reader(source_, table(key, need(key)), fmt::format("{}: {}", context_, key));
    }

    uint8_t byte(std::string_view key, const toml::node& node) const {
        return static_cast<uint8_t>(integer(key, node, 0, 255));
    }

    std::vector<uint8_t> bytes(std::string_view key, const toml::node& node, std::size_t most) const {
        const toml::array& items = array(key, node);
        if (items.size() > most)
            fail_at(node.source(), fmt::format("'{}' holds {} bytes, at most {}", key, items.size(), most));
        std::vector<uint8_t> out;
        for (const toml::node& item : items) out.push_back(byte(key, item));
        return out;
    }

    const toml::table& raw() const { return table_; }
    const std::string& source() const { return source_; }

private:
    [[noreturn]] void wrong_type(std::string_view key, const toml::node& node, std::string_view want) const {
        fail_at(node.source(), fmt::format("'{}' must be {}, not {}", key, want, type_name(node)));
    }

    const std::string& source_;
    const toml::table& table_;
    std::string context_;
    std::set<std::string> seen_;
};

constexpr int64_t kU32Max = std::numeric_limits<uint32_t>::max();
constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();

// Keeps names and numbers unique; reports the clash at the second use.
template <typename Key>
class UniqueSet {
public:
    explicit UniqueSet(std::string what) : what_(std::move(what)) {}
    template <typename Show>
    void add(Reader& reader, const Key& key, Show&& show, const std::string& owner) {
        auto [it, fresh] = first_.emplace(key, owner);
        if (!fresh) reader.fail(fmt::format("duplicate {} {} (first used by {})", what_, show(key), it->second));
    }
    bool contains(const Key& key) const { return first_.contains(key); }

private:
    std::string what_;
    std::map<Key, std::string> first_;
};

std::string in_quotes(const std::string& text) { return fmt::format("\"{}\"", text); }

class Loader {
public:
    Loader(std::string source, std::filesystem::path base_dir)
        : source_(std::move(source)), base_dir_(std::move(base_dir)) {}

    Description load(const toml::table& root) {
        Description out;
        out.source = source_;
        Reader top(source_, root, "");
        attempt([&] {
            Reader platform = top.nested("platform");
            platform.set_context("platform");
            out.names.name = platform.string("name", platform.need("name"));
            out.names.model = platform.string("model", platform.need("model"));
            out.names.lead_byte = static_cast<uint8_t>(platform.integer_or("lead_byte", 0, 255, 0));
            out.polling = platform.boolean_or("polling", true);
            platform.finish();
        });

        each(top, "fru", [&](Reader& r) { out.frus.push_back(fru(r)); });
        each(top, "sensor", [&](Reader& r) { out.sensors.push_back(sensor(r)); });
        each(top, "indicator", [&](Reader& r) { out.indicators.push_back(indicator(r)); });
        each(top, "component", [&](Reader& r) {
            ComponentDesc component;
            object_info(r, component, "component");
            out.components.push_back(std::move(component));
        });
        each(top, "association", [&](Reader& r) { out.associations.push_back(association(r)); });
        each(top, "fault", [&](Reader& r) { out.faults.push_back(fault(r)); });
        attempt([&] { top.finish(); });
        return out;
    }

    // Every problem found so far, in file order within each kind of object.
    const std::vector<std::string>& problems() const { return problems_; }

    // Runs `read`; a problem it finds is noted and reading goes on with the
    // next object, up to kMaxLoadProblems.
    template <typename Read>
    void attempt(Read&& read) {
        try {
            read();
        } catch (const LoadError& e) {
            note(e.what());
        }
    }
    void note(std::string problem) {
        problems_.push_back(std::move(problem));
        if (problems_.size() >= kMaxLoadProblems) throw TooManyProblems{};
    }
    struct TooManyProblems {};

private:
    // Runs `read` over every table of the array of tables `key`.
    template <typename Read>
    void each(Reader& top, std::string_view key, Read&& read) {
        const toml::node* node = top.find(key);
        if (node == nullptr) return;
        attempt([&] {
            const toml::array& items = top.array(key, *node);
            if (items.size() > kMaxObjectsOfAKind)
                top.fail_at(items[kMaxObjectsOfAKind].source(),
                            fmt::format("more than {} [[{}]] tables", kMaxObjectsOfAKind, key));
            std::size_t index = 0;
            for (const toml::node& item : items) {
                std::string context = fmt::format("{} #{}", key, ++index);
                attempt([&] {
                    if (!item.is_table())
                        Reader(source_, top.raw(), context).fail_at(item.source(), fmt::format("must be a table, not {}", type_name(item)));
                    Reader reader(source_, *item.as_table(), context);
                    read(reader);
                    reader.finish();
                });
            }
        });
    }

    void object_info(Reader& r, ObjectInfo& info, const char* what) {
        info.path = r.required_string("path");
        if (info.path == "/")
            r.fail("path \"/\" is the inventory root and cannot hold an object");
        if (r.context().find('"') == std::string::npos)
            r.set_context(fmt::format("{} {}", what, in_quotes(info.path)));
        paths_.add(r, info.path, in_quotes, r.context());
        info.kind = static_cast<uint32_t>(r.integer_or("kind", 0, kU32Max, 0));
        if (const toml::node* desc = r.find("desc")) {
            std::vector<uint8_t> bytes = r.bytes("desc", *desc, info.desc.size());
            std::copy(bytes.begin(), bytes.end(), info.desc.begin());
        }
        if (const toml::node* props = r.find("properties")) {
            const toml::table& table = r.table("properties", *props);
            if (table.size() > kMaxPropertiesPerObject)
                r.fail_at(props->source(), fmt::format("'properties' holds {} entries, at most {}", table.size(),
                                                       kMaxPropertiesPerObject));
            for (auto&& [key, value] : table)
                info.properties.emplace_back(std::string(key.str()), r.string(key.str(), value));
        }
    }

    // Reads the identifying name first so that later messages carry it.
    std::string object_name(Reader& r, const char* key, const char* what, UniqueSet<std::string>& names) {
        std::string name = r.required_string(key);
        r.set_context(fmt::format("{} {}", what, in_quotes(name)));
        names.add(r, name, in_quotes, r.context());
        return name;
    }

    FruDesc fru(Reader& r) {
        FruDesc fru;
        fru.name = object_name(r, "name", "fru", fru_names_);
        object_info(r, fru, "fru");
        const toml::node* hex = r.find("data");
        const toml::node* file = r.find("data_file");
        if (hex && file) r.fail("give either 'data' or 'data_file', not both");
        if (hex) fru.data = parse_hex(r, *hex);
        if (file) fru.data = read_data_file(r, *file);
        FruAreas areas = fru_areas(r);
        if (!areas.empty()) {
            if (hex || file) r.fail("give the areas (chassis, board, product) or 'data' or 'data_file', not both");
            try {
                fru.data = build_fru_image(areas);
            } catch (const std::invalid_argument& e) {
                r.fail(e.what());
            }
        }
        if (fru.data.size() > kMaxFruData)
            r.fail(fmt::format("data area too large: {} bytes, at most {}", fru.data.size(), kMaxFruData));
        if (const toml::node* size = r.find("size")) {
            auto wanted = static_cast<std::size_t>(r.integer("size", *size, 0, kI64Max));
            if (wanted > kMaxFruData)
                r.fail_at(size->source(), fmt::format("data area too large: size {} bytes, at most {}", wanted, kMaxFruData));
            if (wanted < fru.data.size())
                r.fail_at(size->source(), fmt::format("size {} is smaller than the {} bytes of data", wanted, fru.data.size()));
            fru.data.resize(wanted, 0xFF); // unwritten EEPROM reads as 0xFF
        }
        total_fru_data_ += fru.data.size();
        if (total_fru_data_ > kMaxTotalFruData)
            r.fail(fmt::format("the FRUs' data areas add up to more than {} bytes", kMaxTotalFruData));
        fru.size = static_cast<uint32_t>(fru.data.size());
        fru.writable = r.boolean_or("writable", false);
        return fru;
    }

    // The chassis, board and product areas of a FRU given as fields; velkd-sim
    // builds the bytes. Every text field is optional (empty by default).
    FruAreas fru_areas(Reader& r) {
        FruAreas areas;
        auto text = [](Reader& a, const char* key) { return a.string_or(key, ""); };
        auto extra = [](Reader& a) {
            std::vector<std::string> out;
            if (const toml::node* node = a.find("extra"))
                for (const toml::node& item : a.array("extra", *node)) out.push_back(a.string("extra", item));
            return out;
        };
        if (r.find("chassis")) {
            Reader a = r.nested("chassis");
            ChassisArea c;
            c.type = static_cast<uint8_t>(a.integer_or("type", 0, 255, c.type));
            c.part_number = text(a, "part_number");
            c.serial = text(a, "serial");
            c.extra = extra(a);
            a.finish();
            areas.chassis = std::move(c);
        }
        if (r.find("board")) {
            Reader a = r.nested("board");
            BoardArea b;
            b.language = static_cast<uint8_t>(a.integer_or("language", 0, 255, 0));
            if (const toml::node* date = a.find("mfg_date")) b.mfg_minutes = mfg_minutes(a, *date);
            b.manufacturer = text(a, "manufacturer");
            b.product = text(a, "product");
            b.serial = text(a, "serial");
            b.part_number = text(a, "part_number");
            b.file_id = text(a, "file_id");
            b.extra = extra(a);
            a.finish();
            areas.board = std::move(b);
        }
        if (r.find("product")) {
            Reader a = r.nested("product");
            ProductArea p;
            p.language = static_cast<uint8_t>(a.integer_or("language", 0, 255, 0));
            p.manufacturer = text(a, "manufacturer");
            p.name = text(a, "name");
            p.part_number = text(a, "part_number");
            p.version = text(a, "version");
            p.serial = text(a, "serial");
            p.asset_tag = text(a, "asset_tag");
            p.file_id = text(a, "file_id");
            p.extra = extra(a);
            a.finish();
            areas.product = std::move(p);
        }
        return areas;
    }

    // A TOML date or date-time (UTC unless it carries an offset), from
    // 1996-01-01 00:01 on, in minutes as the board area keeps it.
    uint32_t mfg_minutes(Reader& a, const toml::node& node) {
        int64_t minutes = 0;
        if (const auto* dt = node.as_date_time()) {
            const toml::date_time& v = dt->get();
            minutes = fru_minutes(v.date.year, v.date.month, v.date.day, v.time.hour, v.time.minute);
            if (v.offset) minutes -= v.offset->minutes;
        } else if (const auto* d = node.as_date()) {
            minutes = fru_minutes(d->get().year, d->get().month, d->get().day, 0, 0);
        } else {
            a.fail_at(node.source(), fmt::format("'mfg_date' must be a date or date-time, not {}", type_name(node)));
        }
        if (minutes < 1 || minutes > 0xFFFFFF)
            a.fail_at(node.source(), "'mfg_date' must lie between 1996-01-01 00:01 and 2027-11-24 (UTC)");
        return static_cast<uint32_t>(minutes);
    }

    std::vector<uint8_t> parse_hex(Reader& r, const toml::node& node) {
        std::string text = r.string("data", node, 4 * kMaxFruData); // hex digits, with room for spacing
        std::vector<uint8_t> out;
        int high = -1;
        for (char c : text) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':') continue;
            int digit = hex_value(c);
            if (digit < 0) r.fail_at(node.source(), fmt::format("'data' holds '{}', which is not a hex digit", c));
            if (high < 0) {
                high = digit;
            } else {
                out.push_back(static_cast<uint8_t>(high << 4 | digit));
                high = -1;
            }
        }
        if (high >= 0) r.fail_at(node.source(), "'data' has an odd number of hex digits");
        return out;
    }

    // A regular file under the description's directory, or anywhere when
    // the FRU says 'data_file_outside = true' (then its path is absolute).
    std::vector<uint8_t> read_data_file(Reader& r, const toml::node& node) {
        std::filesystem::path named = r.string("data_file", node);
        bool outside = r.boolean_or("data_file_outside", false);
        std::filesystem::path file = base_dir_ / named;
        if (outside) {
            if (!named.is_absolute())
                r.fail_at(node.source(), "with 'data_file_outside', 'data_file' must be an absolute path");
        } else {
            file = confined(r, node, file);
        }
        // Never wait on a FIFO or a device; never follow a link put in place
        // of the file the check above resolved.
        int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (outside ? 0 : O_NOFOLLOW));
        if (fd < 0) r.fail_at(node.source(), fmt::format("cannot read data_file {}: {}", file.string(), std::strerror(errno)));
        struct stat st{};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            r.fail_at(node.source(), fmt::format("data_file {} is not a regular file", file.string()));
        }
        if (static_cast<std::size_t>(st.st_size) > kMaxFruData) {
            ::close(fd);
            r.fail_at(node.source(), fmt::format("data area too large: {} holds more than {} bytes", file.string(),
                                                 kMaxFruData));
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

    // The real path of `file`, which must lie under the real path of the
    // description's directory: both with every link, "." and ".." resolved,
    // so that neither a link nor a relative --config leads outside.
    std::filesystem::path confined(Reader& r, const toml::node& node, const std::filesystem::path& file) {
        std::error_code error;
        std::filesystem::path dir = std::filesystem::canonical(base_dir_, error);
        // A file that does not exist resolves as far as it does; opening it
        // then says what is missing.
        std::filesystem::path real = error ? std::filesystem::path() : std::filesystem::weakly_canonical(file, error);
        auto [d, f] = std::mismatch(dir.begin(), dir.end(), real.begin(), real.end());
        if (error || dir.empty() || d != dir.end() || f == real.end())
            r.fail_at(node.source(), fmt::format("data_file {} is not under the description's directory {} "
                                                 "(an absolute path needs 'data_file_outside = true')",
                                                 file.string(), dir.empty() ? base_dir_.string() : dir.string()));
        return real;
    }

    SensorDesc sensor(Reader& r) {
        SensorDesc s;
        s.id = object_name(r, "id", "sensor", sensor_ids_);
        const toml::node& number = r.need("number");
        s.number = static_cast<uint32_t>(r.integer("number", number, 0, kU32Max));
        sensor_numbers_.add(r, s.number, [](uint32_t n) { return std::to_string(n); }, r.context());
        object_info(r, s, "sensor");
        s.type = static_cast<uint8_t>(r.integer_or("type", 0, 255, 0));
        s.note = r.string_or("note", "");

        Reader conversion = r.nested("conversion");
        s.conversion.m = static_cast<float>(conversion.required_number("m"));
        s.conversion.b = static_cast<float>(conversion.required_number("b"));
        if (s.conversion.m == 0 || !std::isfinite(s.conversion.m) || !std::isfinite(s.conversion.b))
            conversion.fail("'m' must be a finite number other than 0 and 'b' finite");
        conversion.finish();

        Reader thresholds = r.nested("thresholds");
        for (std::size_t i = 0; i < 6; ++i)
            s.thresholds[i] = static_cast<float>(thresholds.required_number(kThresholdNames[i]));
        for (std::size_t i = 1; i < 6; ++i)
            if (!(s.thresholds[i - 1] <= s.thresholds[i]))
                thresholds.fail(fmt::format("'{}' ({}) is below '{}' ({}): thresholds must not decrease",
                                            kThresholdNames[i], s.thresholds[i], kThresholdNames[i - 1],
                                            s.thresholds[i - 1]));
        thresholds.finish();

        if (r.find("hysteresis")) {
            Reader hysteresis = r.nested("hysteresis");
            s.hysteresis.positive = static_cast<uint8_t>(hysteresis.integer_or("positive", 0, 255, 0));
            s.hysteresis.negative = static_cast<uint8_t>(hysteresis.integer_or("negative", 0, 255, 0));
            hysteresis.finish();
        }
        s.poll_interval_ms = static_cast<uint32_t>(r.integer_or("poll_interval_ms", 1, 65535, 1000));
        s.polling = r.boolean_or("polling", true);
        Reader reading = r.nested("reading");
        s.reading = behaviour(reading);
        reading.finish();
        return s;
    }

    Behaviour behaviour(Reader& r) {
        std::string kind = r.string("behaviour", r.need("behaviour"));
        auto period = [&] {
            double period = r.required_number("period_s");
            if (!(period > 0)) r.fail("'period_s' must be above 0");
            return period;
        };
        if (kind == "constant") return Constant{r.required_number("value")};
        if (kind == "ramp") return Ramp{r.required_number("from"), r.required_number("to"), period()};
        if (kind == "sine") return Sine{r.required_number("center"), r.required_number("amplitude"), period()};
        if (kind == "random_walk") {
            RandomWalk walk{r.required_number("start"), r.required_number("step"), r.required_number("min"),
                            r.required_number("max"), static_cast<uint64_t>(r.integer_or("seed", 0, kI64Max, 0)),
                            static_cast<uint32_t>(r.integer_or("interval_ms", 10, kU32Max, 1000))};
            if (!(walk.min <= walk.max) || !(walk.step >= 0)) r.fail("needs min <= max and step >= 0");
            return walk;
        }
        r.fail_at(r.raw().get("behaviour")->source(),
                  fmt::format("unknown behaviour \"{}\" (constant, ramp, sine or random_walk)", kind));
    }

    IndicatorDesc indicator(Reader& r) {
        IndicatorDesc ind;
        ind.name = object_name(r, "name", "indicator", indicator_names_);
        object_info(r, ind, "indicator");
        ind.modes = {0, 1, 2};
        if (const toml::node* modes = r.find("modes")) {
            ind.modes = r.bytes("modes", *modes, kMaxIndicatorModes);
            if (ind.modes.empty()) r.fail_at(modes->source(), "'modes' must list at least one mode");
            if (std::set<uint8_t>(ind.modes.begin(), ind.modes.end()).size() != ind.modes.size())
                r.fail_at(modes->source(), "'modes' lists a mode twice");
        }
        ind.initial_mode = ind.modes.front();
        if (const toml::node* mode = r.find("mode")) {
            ind.initial_mode = r.byte("mode", *mode);
            if (std::find(ind.modes.begin(), ind.modes.end(), ind.initial_mode) == ind.modes.end())
                r.fail_at(mode->source(), fmt::format("'mode' {} is not one of 'modes'", ind.initial_mode));
        }
        return ind;
    }

    EntityKey entity_key(Reader& r, std::string_view key, const toml::node& node) {
        std::vector<uint8_t> pair = r.bytes(key, node, 2);
        if (pair.size() != 2) r.fail_at(node.source(), fmt::format("'{}' must be two bytes [key0, key1]", key));
        return EntityKey{pair[0], pair[1]};
    }

    AssociationDesc association(Reader& r) {
        AssociationDesc assoc;
        assoc.entity = entity_key(r, "entity", r.need("entity"));
        auto show = [](const EntityKey& k) { return fmt::format("[{}, {}]", k.key0, k.key1); };
        r.set_context(fmt::format("association {}", show(assoc.entity)));
        association_keys_.add(r, assoc.entity, show, r.context());
        assoc.word = static_cast<uint32_t>(r.integer_or("word", 0, kU32Max, 0));
        if (const toml::node* members = r.find("members")) {
            const toml::array& items = r.array("members", *members);
            if (items.size() > kMaxAssociationMembers)
                r.fail_at(members->source(), fmt::format("'members' holds {} members, at most {}", items.size(),
                                                         kMaxAssociationMembers));
            for (const toml::node& member : items) assoc.members.push_back(entity_key(r, "members", member));
        }
        return assoc;
    }

    FaultDesc fault(Reader& r) {
        FaultDesc f;
        if (const toml::node* proc = r.find("procedure")) {
            if (proc->is_string()) {
                f.procedure = procedure_number(proc->as_string()->get());
                if (!f.procedure)
                    r.fail_at(proc->source(), fmt::format("unknown procedure \"{}\"", proc->as_string()->get()));
            } else {
                f.procedure = static_cast<int>(r.integer("procedure", *proc, 1, kProcedureCount));
            }
        }
        f.object = r.string_or("object", "");
        f.delay_ms = static_cast<uint32_t>(r.integer_or("delay_ms", 0, 600000, 0));
        const toml::node* status = r.find("status");
        const toml::node* rate = r.find("failure_rate");
        if (status) {
            f.status = static_cast<int>(r.integer("status", *status, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
            if (f.status == 0) r.fail_at(status->source(), "'status' must not be 0");
        } else if (rate) {
            f.status = kInjectedFault;
        }
        if (rate) {
            f.failure_rate = r.number("failure_rate", *rate);
            if (!(f.failure_rate >= 0 && f.failure_rate <= 1)) r.fail_at(rate->source(), "'failure_rate' must be 0 to 1");
        }
        f.seed = static_cast<uint64_t>(r.integer_or("seed", 0, kI64Max, 0));
        if (f.delay_ms == 0 && f.status == 0) r.fail("a fault needs 'delay_ms' or 'status'");
        fault_objects_.emplace_back(f.object, r.raw().get("object") ? r.raw().get("object")->source() : r.raw().source());
        return f;
    }

public:
    // Fault objects may name objects that appear later in the file, so they
    // are checked once everything is read.
    void check_fault_objects(const Description& d) {
        std::set<std::string> known;
        auto add = [&](const ObjectInfo& o, const std::string& name) {
            known.insert(o.path);
            known.insert(name);
        };
        for (const auto& s : d.sensors) add(s, s.id);
        for (const auto& i : d.indicators) add(i, i.name);
        for (const auto& f : d.frus) add(f, f.name);
        for (const auto& [object, where] : fault_objects_)
            if (!object.empty() && !known.contains(object))
                note(fmt::format("{}:{}:{}: fault: 'object' \"{}\" is no sensor, indicator or FRU", source_,
                                 where.begin.line, where.begin.column, object));
    }

private:
    std::string source_;
    std::filesystem::path base_dir_;
    UniqueSet<std::string> paths_{"path"};
    UniqueSet<std::string> fru_names_{"FRU name"};
    UniqueSet<std::string> sensor_ids_{"sensor id"};
    UniqueSet<uint32_t> sensor_numbers_{"logical number"};
    UniqueSet<std::string> indicator_names_{"indicator name"};
    UniqueSet<EntityKey> association_keys_{"association entity"};
    std::vector<std::pair<std::string, toml::source_region>> fault_objects_;
    std::size_t total_fru_data_ = 0;
    std::vector<std::string> problems_;
};

} // namespace

Description load_description_text(std::string_view text, const std::string& source,
                                  const std::filesystem::path& base_dir) {
    if (text.size() > kMaxDescriptionBytes) {
        // Where the first byte beyond the limit lies.
        std::string_view within = text.substr(0, kMaxDescriptionBytes);
        std::size_t line = 1 + static_cast<std::size_t>(std::count(within.begin(), within.end(), '\n'));
        std::size_t line_start = within.rfind('\n');
        std::size_t column = kMaxDescriptionBytes - (line_start == std::string_view::npos ? 0 : line_start + 1) + 1;
        throw LoadError(fmt::format("{}:{}:{}: the description is larger than {} bytes", source, line, column,
                                    kMaxDescriptionBytes));
    }
    toml::table root;
    try {
        root = toml::parse(text, source);
    } catch (const toml::parse_error& e) {
        throw LoadError(fmt::format("{}:{}:{}: {}", source, e.source().begin.line, e.source().begin.column,
                                    e.description()));
    }
    Loader loader(source, base_dir);
    Description description;
    bool cut_short = false;
    try {
        description = loader.load(root);
        loader.check_fault_objects(description);
    } catch (const Loader::TooManyProblems&) {
        cut_short = true;
    }
    std::vector<std::string> problems = loader.problems();
    if (problems.empty()) return description;
    std::string all = fmt::format("{}", fmt::join(problems, "\n"));
    if (cut_short) all += fmt::format("\n{}: stopped after {} problems", source, kMaxLoadProblems);
    throw LoadError(all, std::move(problems), cut_short);
}

Description load_description_file(const std::filesystem::path& file) {
    // data_file entries are looked up in the directory that really holds the
    // file: a bare name has no parent path of its own, and a link may lead
    // elsewhere.
    std::error_code error;
    std::filesystem::path real = std::filesystem::canonical(file, error);
    std::ifstream in;
    if (!error) in.open(real, std::ios::binary);
    if (error || !in) throw LoadError(fmt::format("{}: cannot open the description file", file.string()));
    // One byte beyond the limit is enough to refuse the file.
    std::string text;
    char chunk[64 * 1024];
    while (text.size() <= kMaxDescriptionBytes && in.read(chunk, sizeof chunk).gcount() > 0)
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxDescriptionBytes + 1) text.resize(kMaxDescriptionBytes + 1);
    return load_description_text(text, file.string(), real.parent_path());
}

} // namespace velkd
