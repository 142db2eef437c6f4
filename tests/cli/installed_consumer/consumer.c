/* A small application built against an installed libvelkdirectfe: the
 * platform names and every sensor's value, everything released. */
#include <stdio.h>
#include <stdlib.h>

#include <velkdirectfe.h>
#include <velkdirectfe_wire.h> /* needs libtirpc's headers through the package */

int main(void) {
    int handle = -1;
    velkdirectfe_plat_names_t names;
    uint32_t count = 0;
    velkdirectfe_sensor_attr_t *sensors = NULL;
    velkdirectfe_open(&handle);
    if (velkdirectfe_get_platform_names(handle, &names) != 0 ||
        velkdirectfe_get_sensor_attrs(handle, &count, &sensors) != 0) {
        fprintf(stderr, "the daemon refused a list\n");
        return 1;
    }
    printf("platform: %s (%s)\n", names.name1, names.name2);
    free(names.name1);
    free(names.name2);
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
