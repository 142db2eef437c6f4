// Conversions of one sensor's reading between its raw byte and its
// normalized value; the daemon holds the conversion.
#include "transport/call_frame.h"

using namespace vdfe;

extern "C" {

int velkdirectfe_convert_normal_to_raw(int, const char* sensor, float normal_value, uint8_t* raw_value) {
    if (sensor == nullptr || raw_value == nullptr) return -1;
    norm_to_raw_t argument{const_cast<char*>(sensor), normal_value};
    return call(procedures::velkd_norm_to_raw_1, &argument, [raw_value](const norm_to_raw_res& answer) {
        *raw_value = answer.raw;
        return 0;
    });
}

int velkdirectfe_convert_raw_to_normal(int, const char* sensor, uint8_t raw_value, float* normal_value) {
    if (sensor == nullptr || normal_value == nullptr) return -1;
    raw_to_norm_t argument{const_cast<char*>(sensor), raw_value};
    return call(procedures::velkd_raw_to_norm_1, &argument, [normal_value](const raw_to_norm_res& answer) {
        *normal_value = answer.normal_value;
        return 0;
    });
}

} // extern "C"
