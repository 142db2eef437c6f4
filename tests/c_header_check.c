/* The public headers are plain C: this file includes both and links. */
#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"

int main(void) {
    int handle = -1;
    sensor_attrs_res res = {0, 0, 0};
    (void)res;
    return velkdirectfe_open(&handle) == 0 && handle == 0 ? 0 : 1;
}
