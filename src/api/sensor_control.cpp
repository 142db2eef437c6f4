// Threshold and reading settings, polling and the reset of all sensors.
#include "transport/call_frame.h"

using namespace vdfe;

namespace {

// The disabling request names the caller's poll_short rather than holding its
// value: the stub runs only once a client exists, and reads it there, once.
// Without a client nothing is read.
struct DisableRequest {
    uint32_t sensor_num;
    const uint16_t* poll_short;
};

enum clnt_stat send_disable(DisableRequest* request, sensor_poll_info_res* answer, CLIENT* client) {
    sensor_poll_info_t argument{request->sensor_num, 0, *request->poll_short};
    return ::velkd_disable_sensor_poll_1(&argument, answer, client);
}

const Procedure<DisableRequest, sensor_poll_info_res> kDisablePolling{
    send_disable, procedures::velkd_disable_sensor_poll_1.result_xdr};

} // namespace

extern "C" {

int velkdirectfe_set_threshold_vals_internal(int, pollctrl_thresh_t* thresh_vals) {
    if (thresh_vals == nullptr) return -1;
    return call(procedures::velkd_set_threshold_vals_1, thresh_vals);
}

int velkdirectfe_set_sensor_reading(int, uint32_t sensor_num, uint16_t reading) {
    set_sen_reading_t argument{sensor_num, reading};
    return call(procedures::velkd_set_sensor_reading_1, &argument);
}

int velkdirectfe_enable_sensor_polling(int, uint32_t sensor_num, uint32_t* poll_word, uint16_t* poll_short) {
    if (poll_word == nullptr || poll_short == nullptr) return -1;
    sensor_poll_info_t argument{sensor_num, 0, 0};
    return call(procedures::velkd_enable_sensor_poll_1, &argument, [=](const sensor_poll_info_res& answer) {
        *poll_word = answer.poll.poll_word;
        *poll_short = answer.poll.poll_short;
        return 0;
    });
}

int velkdirectfe_disable_sensor_polling(int, uint32_t sensor_num, uint32_t* poll_word, const uint16_t* poll_short) {
    if (poll_word == nullptr || poll_short == nullptr) return -1;
    DisableRequest request{sensor_num, poll_short};
    return call(kDisablePolling, &request, [=](const sensor_poll_info_res& answer) {
        *poll_word = answer.poll.poll_word;
        return 0;
    });
}

int velkdirectfe_set_poll_state(int, uint8_t poll_state) {
    u_char argument = poll_state;
    return call(procedures::velkd_set_poll_state_1, &argument);
}

int velkdirectfe_reset_all_sensors_state(int) {
    return call(procedures::velkd_reset_all_sensors_1, static_cast<void*>(nullptr));
}

} // extern "C"
