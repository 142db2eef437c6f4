/* set_sensor_reading NUMBER RAW: overrides a sensor's reading through the
 * library, for scripts that push a sensor past its thresholds. */
#include <stdio.h>
#include <stdlib.h>
#include <velkdirectfe.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: set_sensor_reading NUMBER RAW\n");
        return 2;
    }
    int status = velkdirectfe_set_sensor_reading(0, (uint32_t)strtoul(argv[1], NULL, 0),
                                                 (uint16_t)strtoul(argv[2], NULL, 0));
    if (status != 0) fprintf(stderr, "set_sensor_reading: status %d\n", status);
    return status == 0 ? 0 : 1;
}
