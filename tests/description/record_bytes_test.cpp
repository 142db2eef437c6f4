// velkd-sim's own bytes in the records: each field where daemon/README.md
// says it lies, with its width, and written then read back unchanged; no
// other opaque byte is touched.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "record_bytes.h"

namespace velkd {
namespace {

namespace rb = record_bytes;

struct Placed {
    std::string field;
    std::size_t at;    // byte offset in the public record
    std::size_t width; // bytes
    bool operator==(const Placed&) const = default;
};

void PrintTo(const Placed& p, std::ostream* os) { *os << p.field << "@" << p.at << "+" << p.width; }

// Where the declaration puts each field of one record.
template <typename Record>
struct Where {
    const Record& record;
    std::vector<Placed>& out;
    template <std::size_t N, std::size_t Offset, typename T>
    void operator()(const char* field, const uint8_t (&run)[N], rb::At<Offset>, const T&) const {
        std::size_t width = sizeof(T);
        if constexpr (std::is_same_v<T, std::vector<uint8_t>>) width = N - Offset; // count and room
        auto at = static_cast<std::size_t>(run + Offset - reinterpret_cast<const uint8_t*>(&record));
        out.push_back({field, at, width});
    }
};

// Puts `value` into a zeroed record, checks the places against `want`, reads
// it back, and checks that nothing outside the places was written.
template <typename Record, typename Value, typename Fields>
void round_trip(const Value& value, Fields fields, const std::vector<Placed>& want) {
    Record record;
    std::memset(&record, 0, sizeof record);
    rb::put(record, value);

    std::vector<Placed> placed;
    Value scratch = value;
    fields(std::as_const(record), scratch, Where<Record>{record, placed});
    EXPECT_EQ(placed, want);

    Value back{};
    rb::get(record, back);
    EXPECT_TRUE(back == value);

    std::vector<bool> declared(sizeof record);
    for (const Placed& p : placed) std::fill_n(declared.begin() + static_cast<std::ptrdiff_t>(p.at), p.width, true);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i)
        EXPECT_TRUE(declared[i] || bytes[i] == 0) << "byte " << i << " is no field's";
}

TEST(RecordBytes, EveryFieldLiesWhereDocumentedAndReadsBack) {
    using S = velkdirectfe_sensor_attr_t;
    using I = velkdirectfe_ind_attr_t;
    using F = velkdirectfe_fru_attr_t;
    SensorDesc sensor;
    sensor.number = 0xA1B2C3D4;
    sensor.conversion = {-2.5f, 1e-3f};
    sensor.poll_interval_ms = 65535;
    sensor.type = 0x7f;
    sensor.absent_thresholds = 0b100001;
    round_trip<S>(sensor, [](auto& r, auto& v, auto f) { rb::sensor_fields(r, v, f); },
                  {{"number", offsetof(S, opaque0), 4}, {"conversion.m", offsetof(S, opaque1), 4},
                   {"conversion.b", offsetof(S, opaque1) + 4, 4}, {"poll_interval_ms", offsetof(S, opaque1) + 8, 4},
                   {"type", offsetof(S, opaque1) + 12, 1}, {"absent_thresholds", offsetof(S, opaque1) + 13, 1}});
    IndicatorDesc indicator;
    indicator.modes = {12, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 255};
    round_trip<I>(indicator, [](auto& r, auto& v, auto f) { rb::indicator_fields(r, v, f); },
                  {{"modes", offsetof(I, opaque1), 14}});
    round_trip<I>(rb::TimedModeBytes{rb::kTimedModeRuns, 3, 0xBEEF},
                  [](auto& r, auto& v, auto f) { rb::timed_mode_fields(r, v, f); },
                  {{"running", offsetof(I, opaque0), 1}, {"lasting_mode", offsetof(I, opaque0) + 1, 1},
                   {"seconds_left", offsetof(I, opaque0) + 2, 2}});
    FruDesc fru;
    fru.size = 0x10000;
    fru.writable = true;
    round_trip<F>(fru, [](auto& r, auto& v, auto f) { rb::fru_fields(r, v, f); },
                  {{"size", offsetof(F, opaque2), 4}, {"writable", offsetof(F, opaque2) + 4, 1}});
}

// Bytes from a daemon that is not velkd-sim: a count beyond the run is cut
// to what the run holds, any non-zero writable byte means writable.
TEST(RecordBytes, ForeignBytesStayWithinTheRun) {
    velkdirectfe_ind_attr_t indicator;
    std::memset(&indicator, 0xEE, sizeof indicator);
    IndicatorDesc modes;
    rb::get(indicator, modes);
    EXPECT_EQ(modes.modes, std::vector<uint8_t>(13, 0xEE));

    velkdirectfe_fru_attr_t fru{};
    fru.opaque2[4] = 2;
    FruDesc back;
    rb::get(fru, back);
    EXPECT_TRUE(back.writable);
}

} // namespace
} // namespace velkd
