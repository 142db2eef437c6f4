// Readings, full reading records and normalized thresholds of one sensor.
#include <cstring>

#include "transport/call_frame.h"

using namespace vdfe;

namespace {

void copy_thresholds(const norm_thresh_info_t& wire, float* out) {
    const float six[6] = {wire.thresh1, wire.thresh2, wire.thresh3, wire.thresh4, wire.thresh5, wire.thresh6};
    std::memcpy(out, six, sizeof six);
}

template <typename Arg>
int reading_pair(const Procedure<Arg, sensor_reading_res>& procedure, Arg* argument, uint16_t* reading,
                 float* normal_value) {
    if (reading == nullptr || normal_value == nullptr) return -1;
    return call(procedure, argument, [=](const sensor_reading_res& answer) {
        *reading = answer.values.reading;
        *normal_value = answer.values.normal_value;
        return 0;
    });
}

// byte4 has no place in the public record; the bytes widen without sign.
template <typename Arg>
int sensor_data(const Procedure<Arg, sensor_data_res>& procedure, Arg* argument, velkdirectfe_sensor_data_t* data) {
    if (data == nullptr) return -1;
    return call(procedure, argument, [data](const sensor_data_res& answer) {
        const sensor_reading_info_t& info = answer.info;
        data->reading = info.reading;
        data->normal_value = info.normal_value;
        data->byte1 = info.byte1;
        data->word1 = info.word1;
        data->byte2 = info.byte2;
        data->byte3 = info.byte3;
        data->word2 = info.word2;
        copy_thresholds(info.thresholds, data->thresholds);
        return 0;
    });
}

} // namespace

extern "C" {

int velkdirectfe_get_sensor_vals(int, const char* sensor, uint16_t* reading, float* normal_value) {
    if (sensor == nullptr) return -1;
    char* argument = const_cast<char*>(sensor);
    return reading_pair(procedures::velkd_get_sens_val_1, &argument, reading, normal_value);
}

int velkdirectfe_get_sensor_vals_by_logical_num(int, uint32_t logical_num, uint16_t* reading, float* normal_value) {
    u_int argument = logical_num;
    return reading_pair(procedures::velkd_get_sens_val_by_log_num_1, &argument, reading, normal_value);
}

int velkdirectfe_get_sensor_data(int, const char* sensor, velkdirectfe_sensor_data_t* data) {
    if (sensor == nullptr) return -1;
    char* argument = const_cast<char*>(sensor);
    return sensor_data(procedures::velkd_get_sens_data_1, &argument, data);
}

int velkdirectfe_get_sensor_data_by_logical_num(int, uint32_t logical_num, velkdirectfe_sensor_data_t* data) {
    u_int argument = logical_num;
    return sensor_data(procedures::velkd_get_sens_data_by_log_num_1, &argument, data);
}

int velkdirectfe_get_normalized_thresholds(int, int sensor_num, float* thresholds) {
    if (thresholds == nullptr) return -1;
    return call(procedures::velkd_get_norm_threshold_1, &sensor_num, [thresholds](const norm_thresh_res& answer) {
        copy_thresholds(answer.thresholds, thresholds);
        return 0;
    });
}

} // extern "C"
