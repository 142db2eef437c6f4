// Raw reads and writes of a FRU's data area.
#include <cstring>

#include "ownership.h"
#include "transport/call_frame.h"

using namespace vdfe;

extern "C" {

int velkdirectfe_read_fru_direct(int, const char* fru, uint32_t offset, uint32_t length, uint8_t* buffer,
                                 uint32_t* read_len) {
    // The buffer may be null only when no byte can land in it.
    if (fru == nullptr || read_len == nullptr || (length != 0 && buffer == nullptr)) return -1;
    fru_direct_read_t argument{const_cast<char*>(fru), offset, length};
    return call(procedures::velkd_read_fru_direct_1, &argument, [=](const fru_read_res& answer) {
        // The buffer holds length bytes; a longer answer cannot be delivered.
        if (answer.count > length) return -1;
        if (answer.count != 0) std::memcpy(buffer, answer.items, answer.count);
        *read_len = answer.count;
        return 0;
    });
}

int velkdirectfe_write_fru_direct(int, const char* fru, uint32_t offset, uint32_t size, const uint8_t* buffer,
                                  int32_t* write_result) {
    if (fru == nullptr || write_result == nullptr || (size != 0 && buffer == nullptr)) return -1;
    // The request carries its own copy of the bytes, released on every path.
    Owned<uint8_t> copy;
    if (size != 0) {
        copy.reset(static_cast<uint8_t*>(std::malloc(size)));
        if (!copy) return -1;
        std::memcpy(copy.get(), buffer, size);
    }
    fru_direct_write_t argument{const_cast<char*>(fru), offset, size, size, copy.get()};
    return call(procedures::velkd_write_fru_direct_1, &argument, [write_result](const fru_write_res& answer) {
        *write_result = answer.write_result;
        return 0;
    });
}

} // extern "C"
