// velkd-sim's own bytes (protocol/record_bytes.h) put into and read from the
// attribute records for the description model's objects.
#pragma once

#include "record_fields.h"
#include "description.h"

namespace velkd::record_bytes {

using velk::protocol::record_bytes::At;
using velk::protocol::record_bytes::GetField;
using velk::protocol::record_bytes::PutField;
using velk::protocol::record_bytes::TimedModeBytes;
using velk::protocol::record_bytes::kTimedModeRuns;
using velk::protocol::record_bytes::fru_fields;
using velk::protocol::record_bytes::indicator_fields;
using velk::protocol::record_bytes::sensor_fields;
using velk::protocol::record_bytes::timed_mode_fields;

static_assert(velk::protocol::record_bytes::kMaxIndicatorModes == kMaxIndicatorModes,
              "an indicator's run holds the count and every mode a description may give");

inline void put(velkdirectfe_sensor_attr_t& r, const SensorDesc& s) { sensor_fields(r, s, PutField{}); }
inline void put(velkdirectfe_ind_attr_t& r, const IndicatorDesc& i) { indicator_fields(r, i, PutField{}); }
inline void put(velkdirectfe_fru_attr_t& r, const FruDesc& f) { fru_fields(r, f, PutField{}); }
inline void put(velkdirectfe_ind_attr_t& r, const TimedModeBytes& t) { timed_mode_fields(r, t, PutField{}); }

inline void get(const velkdirectfe_sensor_attr_t& r, SensorDesc& s) { sensor_fields(r, s, GetField{}); }
inline void get(const velkdirectfe_ind_attr_t& r, IndicatorDesc& i) { indicator_fields(r, i, GetField{}); }
inline void get(const velkdirectfe_fru_attr_t& r, FruDesc& f) { fru_fields(r, f, GetField{}); }
inline void get(const velkdirectfe_ind_attr_t& r, TimedModeBytes& t) { timed_mode_fields(r, t, GetField{}); }

} // namespace velkd::record_bytes
