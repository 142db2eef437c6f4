// The platform's names and the mapping from a sensor number to its string id.
#include "ownership.h"
#include "transport/call_frame.h"

using namespace vdfe;

extern "C" {

int velkdirectfe_get_platform_names(int, velkdirectfe_plat_names_t* names) {
    if (names == nullptr) return -1;
    return call(procedures::velkd_get_platform_names_1, static_cast<void*>(nullptr),
                [names](const get_plat_names_res& answer) {
                    Owned<char> first = copy_string(answer.names.name1);
                    if (!first) {
                        names->name1 = nullptr;
                        return -1;
                    }
                    Owned<char> second = copy_string(answer.names.name2);
                    if (!second) {
                        names->name1 = nullptr;
                        names->name2 = nullptr;
                        return -1;
                    }
                    names->lead_byte = answer.names.lead_byte;
                    names->name1 = first.release();
                    names->name2 = second.release();
                    return 0;
                });
}

int velkdirectfe_logical_num_to_strid(int, int logical_num, char** strid) {
    if (strid == nullptr) return -1;
    return call(procedures::velkd_lognum_to_strid_1, &logical_num, [strid](const sensor_name_res& answer) {
        *strid = copy_string(answer.strid).release();
        return *strid != nullptr ? 0 : -1;
    });
}

} // extern "C"
