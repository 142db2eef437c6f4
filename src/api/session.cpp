// open and close exist for the caller's symmetry; the library keeps no
// connection between calls.
#include "velkdirectfe.h"

extern "C" {

int velkdirectfe_open(int* handle) {
    if (handle == nullptr) return -1;
    *handle = 0;
    return 0;
}

int velkdirectfe_close(int) { return 0; }

} // extern "C"
