/* A small application built against an installed libvelkdirectfe: the
 * platform names and every sensor's value, everything released. */
#include <stdio.h>
#include <stdlib.h>

#include <velkdirectfe.h>
#include <velkdirectfe_wire.h> /* needs libtirpc's headers through the package */

int main(void) {
    int handle = -1;
    velkdirectfe_open(&handle);

    velkdirectfe_plat_names_t names;
    int status = velkdirectfe_get_platform_names(handle, &names);
    if (status != 0) {
        fprintf(stderr, "platform names: status %d\n", status);
        return 1;
    }
    printf("platform: %s (%s)\n", names.name1, names.name2);
    free(names.name1);
    free(names.name2);

    uint32_t count = 0;
    velkdirectfe_sensor_attr_t *sensors = NULL;
    status = velkdirectfe_get_sensor_attrs(handle, &count, &sensors);
    if (status != 0) {
        fprintf(stderr, "sensor list: status %d\n", status);
        return 1;
    }
    for (uint32_t i = 0; i < count; i++) {
        uint16_t reading = 0;
        float value = 0;
        if (velkdirectfe_get_sensor_vals(handle, sensors[i].aux_str, &reading, &value) == 0)
            printf("%s = %g\n", sensors[i].aux_str, value);
    }
    printf("sensors: %u\n", count);
    if (count > 0) velkdirectfe_free_sensor_attrs(handle, count, sensors);
    velkdirectfe_close(handle);
    return 0;
}
