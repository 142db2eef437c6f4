// The description's schema: which tables and keys a platform description
// has, their ranges, and how they become the model (description.h). The TOML
// reading under it is toml_reader.h; files it names are read by safe_file.h.
//
// Every problem is reported, in line order, up to kMaxLoadProblems: a
// problem in one key leaves the object's other keys still read.
#include "description_loader.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <limits>
#include <set>
#include <variant>

#include <toml++/toml.h>

#include "fru_areas.h"
#include "fru_dates.h"
#include "hex_text.h"
#include "procedure_names.h"
#include "daemon_status.h"
#include "safe_file.h"
#include "toml_reader.h"

namespace velkd {

using enum velk::protocol::Status;
using velk::protocol::kProcedureCount;
using velk::protocol::procedure_number;
namespace {

using toml_reading::Reader;
using toml_reading::type_name;
using toml_reading::UniqueSet;

constexpr int64_t kU32Max = std::numeric_limits<uint32_t>::max();
constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();

std::string in_quotes(const std::string& text) { return fmt::format("\"{}\"", text); }

// A problem with where it lies, for reporting in line order.
struct Problem {
    uint32_t line = 0, column = 0;
    std::string text;
};

// Many similar objects declared once: a table with `count = N` stands for N
// tables, numbered n = count_from (default 1) up; "{n}" in any of its
// strings reads as the number, and a sensor's logical `number` is the first
// one's, counting up. Problems keep the table's place in the file.
struct Counted {
    const toml::table* table = nullptr;
    std::string context;
    int64_t count = 1, from = 1;
    bool counted = false;
};

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
            attempt([&] { out.names.name = platform.string("name", platform.need("name")); });
            attempt([&] { out.names.model = platform.string("model", platform.need("model")); });
            attempt([&] { out.names.lead_byte = static_cast<uint8_t>(platform.integer_or("lead_byte", 0, 255, 0)); });
            attempt([&] { out.polling = platform.boolean_or("polling", true); });
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
        check_fault_objects(out);
        return out;
    }

    // The first kMaxLoadProblems problems in line order.
    std::vector<std::string> problems() {
        std::stable_sort(problems_.begin(), problems_.end(), earlier);
        std::vector<std::string> out;
        for (Problem& p : problems_) out.push_back(std::move(p.text));
        return out;
    }
    bool cut_short() const { return cut_short_; }

private:
    static bool earlier(const Problem& a, const Problem& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    }

    // Runs `read`; a problem it finds is noted and reading goes on.
    template <typename Read>
    void attempt(Read&& read) {
        try {
            read();
        } catch (const LoadError& e) {
            for (const std::string& problem : e.problems()) note(problem);
        }
    }

    // Keeps the kMaxLoadProblems earliest in the file.
    void note(const std::string& text) {
        Problem p;
        p.text = text;
        // "SOURCE:LINE:COLUMN: ..."
        if (text.starts_with(source_) && text.size() > source_.size() && text[source_.size()] == ':') {
            unsigned line = 0, column = 0;
            if (std::sscanf(text.c_str() + source_.size(), ":%u:%u:", &line, &column) == 2) {
                p.line = line;
                p.column = column;
            }
        }
        problems_.push_back(std::move(p));
        ++found_;
        if (problems_.size() > kMaxLoadProblems) {
            std::stable_sort(problems_.begin(), problems_.end(), earlier);
            problems_.pop_back();
            cut_short_ = true;
        }
    }

    // The tables of the array of tables `key`, each with `count` expanded.
    template <typename Read>
    void each(Reader& top, std::string_view key, Read&& read) {
        const toml::node* node = top.find(key);
        if (node == nullptr) return;
        const toml::array* items = nullptr;
        attempt([&] { items = &top.array(key, *node); });
        if (!items) return;
        // First how many objects the tables stand for.
        std::vector<Counted> tables;
        std::size_t index = 0, objects = 0;
        for (const toml::node& item : *items) {
            Counted c{nullptr, fmt::format("{} #{}", key, ++index)};
            if (!item.is_table()) {
                note(toml_reading::at(source_, item.source(), c.context,
                                      fmt::format("must be a table, not {}", type_name(item))));
                continue;
            }
            c.table = item.as_table();
            bool readable = false;
            attempt([&] {
                Reader counter(source_, *c.table, c.context);
                if (const toml::node* n = counter.find("count")) {
                    c.count = counter.integer("count", *n, 1, static_cast<int64_t>(kMaxObjectsOfAKind));
                    c.counted = true;
                }
                if (const toml::node* n = counter.find("count_from")) {
                    if (!c.counted) counter.fail_at(n->source(), "'count_from' needs 'count'");
                    c.from = counter.integer("count_from", *n, 0, kU32Max);
                }
                readable = true;
            });
            if (!readable) continue;
            objects += static_cast<std::size_t>(c.count);
            if (objects > kMaxObjectsOfAKind) {
                note(toml_reading::at(source_, item.source(), "",
                                      fmt::format("more than {} [[{}]] tables", kMaxObjectsOfAKind, key)));
                return;
            }
            tables.push_back(std::move(c));
        }
        for (const Counted& c : tables)
            for (int64_t i = 0; i < c.count; ++i) {
                Reader reader(source_, *c.table, c.context);
                if (c.counted) {
                    reader.set_number(std::to_string(c.from + i));
                    reader.find("count");
                    reader.find("count_from");
                }
                offset_ = i;
                const std::size_t before = found_;
                attempt([&] { read(reader); });
                attempt([&] { reader.finish(); });
                if (found_ != before) break; // the other objects of its count would say the same again
            }
        offset_ = 0;
    }

    void object_info(Reader& r, ObjectInfo& info, const char* what) {
        attempt([&] {
            info.path = r.required_string("path");
            if (info.path == "/") r.fail("path \"/\" is the inventory root and cannot hold an object");
            if (r.context().find('"') == std::string::npos)
                r.set_context(fmt::format("{} {}", what, in_quotes(info.path)));
            paths_.add(r, info.path, in_quotes, r.context());
        });
        attempt([&] { info.kind = static_cast<uint32_t>(r.integer_or("kind", 0, kU32Max, 0)); });
        attempt([&] {
            if (const toml::node* desc = r.find("desc")) {
                std::vector<uint8_t> bytes = r.bytes("desc", *desc, info.desc.size());
                std::copy(bytes.begin(), bytes.end(), info.desc.begin());
            }
        });
        attempt([&] {
            const toml::node* props = r.find("properties");
            if (!props) return;
            const toml::table& table = r.table("properties", *props);
            if (table.size() > kMaxPropertiesPerObject)
                r.fail_at(props->source(), fmt::format("'properties' holds {} entries, at most {}", table.size(),
                                                       kMaxPropertiesPerObject));
            // Plain references, not a structured binding: clang 14 (the fuzz
            // build) cannot capture those in a lambda.
            for (auto&& entry : table) {
                const auto& key = entry.first;
                const auto& value = entry.second;
                attempt([&] { info.properties.emplace_back(std::string(key.str()), r.string(key.str(), value)); });
            }
        });
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
        attempt([&] { fru.name = object_name(r, "name", "fru", fru_names_); });
        object_info(r, fru, "fru");
        const toml::node* hex = r.find("data");
        const toml::node* file = r.find("data_file");
        bool outside = false;
        attempt([&] { outside = r.boolean_or("data_file_outside", false); });
        FruAreas areas;
        attempt([&] { areas = fru_areas(r); });
        attempt([&] {
            if (hex && file) r.fail("give either 'data' or 'data_file', not both");
            if (!areas.empty() && (hex || file))
                r.fail("give the areas (chassis, board, product) or 'data' or 'data_file', not both");
            if (hex) {
                auto bytes = parse_hex(r.string("data", *hex, 4 * kMaxFruData), "data"); // room for spacing
                if (auto* problem = std::get_if<std::string>(&bytes)) r.fail_at(hex->source(), *problem);
                fru.data = std::get<std::vector<uint8_t>>(std::move(bytes));
            }
            if (file) {
                std::filesystem::path named = r.string("data_file", *file);
                try {
                    fru.data = read_data_file(base_dir_, named, outside, kMaxFruData);
                } catch (const FileProblem& e) {
                    r.fail_at(file->source(), e.what());
                }
            }
            if (!areas.empty()) {
                try {
                    fru.data = build_fru_image(areas);
                } catch (const std::invalid_argument& e) {
                    r.fail(e.what());
                }
            }
            if (fru.data.size() > kMaxFruData)
                r.fail(fmt::format("data area too large: {} bytes, at most {}", fru.data.size(), kMaxFruData));
        });
        attempt([&] {
            if (const toml::node* size = r.find("size")) {
                auto wanted = static_cast<std::size_t>(r.integer("size", *size, 0, kMaxFruData));
                if (wanted < fru.data.size())
                    r.fail_at(size->source(),
                              fmt::format("size {} is smaller than the {} bytes of data", wanted, fru.data.size()));
                fru.data.resize(wanted, 0xFF); // unwritten EEPROM reads as 0xFF
            }
            total_fru_data_ += fru.data.size();
            if (total_fru_data_ > kMaxTotalFruData)
                r.fail(fmt::format("the FRUs' data areas add up to more than {} bytes", kMaxTotalFruData));
        });
        fru.size = static_cast<uint32_t>(fru.data.size());
        attempt([&] { fru.writable = r.boolean_or("writable", false); });
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
            if (const toml::node* date = a.find("mfg_date")) {
                auto minutes = mfg_minutes(*date);
                if (auto* problem = std::get_if<std::string>(&minutes)) a.fail_at(date->source(), *problem);
                b.mfg_minutes = std::get<uint32_t>(minutes);
            }
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

    SensorDesc sensor(Reader& r) {
        SensorDesc s;
        attempt([&] { s.id = object_name(r, "id", "sensor", sensor_ids_); });
        attempt([&] {
            const toml::node& number = r.need("number");
            s.number = static_cast<uint32_t>(r.integer("number", number, 0, kU32Max - offset_));
            s.number += static_cast<uint32_t>(offset_); // the object's place in a `count`
            sensor_numbers_.add(r, s.number, [](uint32_t n) { return std::to_string(n); }, r.context());
        });
        object_info(r, s, "sensor");
        attempt([&] { s.type = static_cast<uint8_t>(r.integer_or("type", 0, 255, 0)); });
        attempt([&] { s.note = r.string_or("note", ""); });

        attempt([&] {
            Reader conversion = r.nested("conversion");
            attempt([&] { s.conversion.m = static_cast<float>(conversion.required_number("m")); });
            attempt([&] { s.conversion.b = static_cast<float>(conversion.required_number("b")); });
            if (s.conversion.m == 0) conversion.fail("'m' must be a finite number other than 0 and 'b' finite");
            conversion.finish();
        });

        attempt([&] {
            // A threshold the sensor does not have is "na".
            Reader thresholds = r.nested("thresholds");
            uint8_t given = 0; // read as numbers
            for (std::size_t i = 0; i < 6; ++i)
                attempt([&] {
                    const char* name = kThresholdNames[i];
                    const toml::node& value = thresholds.need(name);
                    if (value.is_string()) {
                        if (value.as_string()->get() != "na")
                            thresholds.fail_at(value.source(),
                                               fmt::format("'{}' must be a number or \"na\", not \"{}\"", name,
                                                           value.as_string()->get()));
                        s.absent_thresholds = static_cast<uint8_t>(s.absent_thresholds | 1u << i);
                        return;
                    }
                    s.thresholds[i] = static_cast<float>(thresholds.number(name, value));
                    given |= static_cast<uint8_t>(1u << i);
                });
            // The thresholds given must not decrease, "na" ones aside.
            std::size_t previous = 6;
            for (std::size_t i = 0; i < 6; ++i) {
                if (!(given >> i & 1u)) continue;
                if (previous < 6 && !(s.thresholds[previous] <= s.thresholds[i]))
                    thresholds.fail(fmt::format("'{}' ({}) is below '{}' ({}): thresholds must not decrease",
                                                kThresholdNames[i], s.thresholds[i], kThresholdNames[previous],
                                                s.thresholds[previous]));
                previous = i;
            }
            thresholds.finish();
        });

        attempt([&] {
            if (!r.find("hysteresis")) return;
            Reader hysteresis = r.nested("hysteresis");
            attempt([&] { s.hysteresis.positive = static_cast<uint8_t>(hysteresis.integer_or("positive", 0, 255, 0)); });
            attempt([&] { s.hysteresis.negative = static_cast<uint8_t>(hysteresis.integer_or("negative", 0, 255, 0)); });
            hysteresis.finish();
        });
        attempt([&] { s.poll_interval_ms = static_cast<uint32_t>(r.integer_or("poll_interval_ms", 1, 65535, 1000)); });
        attempt([&] { s.polling = r.boolean_or("polling", true); });
        attempt([&] {
            Reader reading = r.nested("reading");
            s.reading = behaviour(reading);
            reading.finish();
        });
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
        attempt([&] { ind.name = object_name(r, "name", "indicator", indicator_names_); });
        object_info(r, ind, "indicator");
        ind.modes = {0, 1, 2};
        const toml::node* mode = r.find("mode");
        attempt([&] {
            if (const toml::node* modes = r.find("modes")) {
                ind.modes = r.bytes("modes", *modes, kMaxIndicatorModes);
                if (ind.modes.empty()) r.fail_at(modes->source(), "'modes' must list at least one mode");
                if (std::set<uint8_t>(ind.modes.begin(), ind.modes.end()).size() != ind.modes.size())
                    r.fail_at(modes->source(), "'modes' lists a mode twice");
            }
            ind.initial_mode = ind.modes.front();
            if (mode) {
                ind.initial_mode = r.byte("mode", *mode);
                if (std::find(ind.modes.begin(), ind.modes.end(), ind.initial_mode) == ind.modes.end())
                    r.fail_at(mode->source(), fmt::format("'mode' {} is not one of 'modes'", ind.initial_mode));
            }
        });
        return ind;
    }

    EntityKey entity_key(Reader& r, std::string_view key, const toml::node& node) {
        std::vector<uint8_t> pair = r.bytes(key, node, 2);
        if (pair.size() != 2) r.fail_at(node.source(), fmt::format("'{}' must be two bytes [key0, key1]", key));
        return EntityKey{pair[0], pair[1]};
    }

    AssociationDesc association(Reader& r) {
        AssociationDesc assoc;
        attempt([&] {
            assoc.entity = entity_key(r, "entity", r.need("entity"));
            auto show = [](const EntityKey& k) { return fmt::format("[{}, {}]", k.key0, k.key1); };
            r.set_context(fmt::format("association {}", show(assoc.entity)));
            association_keys_.add(r, assoc.entity, show, r.context());
        });
        attempt([&] { assoc.word = static_cast<uint32_t>(r.integer_or("word", 0, kU32Max, 0)); });
        attempt([&] {
            const toml::node* members = r.find("members");
            if (!members) return;
            const toml::array& items = r.array("members", *members);
            if (items.size() > kMaxAssociationMembers)
                r.fail_at(members->source(), fmt::format("'members' holds {} members, at most {}", items.size(),
                                                         kMaxAssociationMembers));
            for (const toml::node& member : items)
                attempt([&] { assoc.members.push_back(entity_key(r, "members", member)); });
        });
        return assoc;
    }

    FaultDesc fault(Reader& r) {
        FaultDesc f;
        attempt([&] {
            const toml::node* proc = r.find("procedure");
            if (!proc) return;
            if (proc->is_string()) {
                f.procedure = procedure_number(proc->as_string()->get());
                if (!f.procedure)
                    r.fail_at(proc->source(), fmt::format("unknown procedure \"{}\"", proc->as_string()->get()));
            } else {
                f.procedure = static_cast<int>(r.integer("procedure", *proc, 1, kProcedureCount));
            }
        });
        attempt([&] { f.object = r.string_or("object", ""); });
        attempt([&] { f.delay_ms = static_cast<uint32_t>(r.integer_or("delay_ms", 0, 600000, 0)); });
        const toml::node* status = r.find("status");
        const toml::node* rate = r.find("failure_rate");
        bool bad = false;
        attempt([&] {
            if (status) {
                bad = true;
                f.status = static_cast<int>(r.integer("status", *status, std::numeric_limits<int>::min(),
                                                      std::numeric_limits<int>::max()));
                if (f.status == 0) r.fail_at(status->source(), "'status' must not be 0");
                bad = false;
            } else if (rate) {
                f.status = kInjectedFault;
            }
        });
        attempt([&] {
            if (!rate) return;
            f.failure_rate = r.number("failure_rate", *rate);
            if (!(f.failure_rate >= 0 && f.failure_rate <= 1))
                r.fail_at(rate->source(), "'failure_rate' must be 0 to 1");
        });
        attempt([&] { f.seed = static_cast<uint64_t>(r.integer_or("seed", 0, kI64Max, 0)); });
        attempt([&] {
            if (!bad && f.delay_ms == 0 && f.status == 0) r.fail("a fault needs 'delay_ms' or 'status'");
        });
        fault_objects_.emplace_back(f.object, r.raw().get("object") ? r.raw().get("object")->source() : r.raw().source());
        return f;
    }

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
    std::vector<Problem> problems_;
    bool cut_short_ = false;
    int64_t offset_ = 0;    // of the object being read in its table's `count`
    std::size_t found_ = 0; // problems noted, kept or not
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
    Description description = loader.load(root);
    std::vector<std::string> problems = loader.problems();
    if (problems.empty()) return description;
    std::string all = fmt::format("{}", fmt::join(problems, "\n"));
    if (loader.cut_short()) all += fmt::format("\n{}: stopped after {} problems", source, kMaxLoadProblems);
    throw LoadError(all, std::move(problems), loader.cut_short());
}

Description load_description_file(const std::filesystem::path& file) {
    TextFile read;
    try {
        read = read_text_file(file, kMaxDescriptionBytes);
    } catch (const FileProblem& e) {
        throw LoadError(e.what());
    }
    return load_description_text(read.text, file.string(), read.real_dir);
}

} // namespace velkd
