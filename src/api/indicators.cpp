// Reading and setting an indicator's mode.
#include "transport/call_frame.h"

using namespace vdfe;

extern "C" {

int velkdirectfe_get_indicator_mode(int, const char* indicator, int32_t* mode) {
    if (indicator == nullptr || mode == nullptr) return -1;
    char* argument = const_cast<char*>(indicator);
    return call(procedures::velkd_get_indicator_mode_1, &argument, [mode](const ind_get_res& answer) {
        *mode = answer.mode; // widened without sign: 0 to 255
        return 0;
    });
}

int velkdirectfe_set_indicator_mode_for_duration(int, const char* indicator, uint8_t mode, uint32_t duration) {
    if (indicator == nullptr) return -1;
    ind_data argument{const_cast<char*>(indicator), mode, duration};
    return call(procedures::velkd_set_indicator_mode_1, &argument);
}

int velkdirectfe_set_indicator_mode(int handle, const char* indicator, uint8_t mode) {
    return velkdirectfe_set_indicator_mode_for_duration(handle, indicator, mode, 0);
}

} // extern "C"
