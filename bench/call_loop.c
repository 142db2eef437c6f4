/* The C side of bench/python_vs_c.py: COUNT calls of one kind in each of
 * THREADS threads at once, against the daemon on the usual socket. Prints
 * the wall time per call of one thread and the calls per second of all.
 *   call_loop platform_names|sensor_vals|sensor_attrs COUNT THREADS */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "velkdirectfe.h"

static const char *call_name;
static long count;

static int one_call(void) {
    if (strcmp(call_name, "platform_names") == 0) {
        velkdirectfe_plat_names_t names;
        if (velkdirectfe_get_platform_names(0, &names) != 0) return -1;
        free(names.name1);
        free(names.name2);
        return 0;
    }
    if (strcmp(call_name, "sensor_vals") == 0) {
        uint16_t reading;
        float value;
        return velkdirectfe_get_sensor_vals(0, "mb_3v3", &reading, &value);
    }
    uint32_t n = 0;
    velkdirectfe_sensor_attr_t *attrs = NULL;
    if (velkdirectfe_get_sensor_attrs(0, &n, &attrs) != 0) return -1;
    velkdirectfe_free_sensor_attrs(0, n, attrs);
    return 0;
}

static void *run(void *failed) {
    for (long i = 0; i < count; ++i)
        if (one_call() != 0) *(int *)failed = 1;
    return NULL;
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: call_loop CALL COUNT THREADS\n");
        return 2;
    }
    call_name = argv[1];
    count = atol(argv[2]);
    int threads = atoi(argv[3]);
    if (count <= 0 || threads <= 0 || threads > 64) return 2;
    pthread_t ids[64];
    int failed[64] = {0};
    double start = now();
    for (int t = 0; t < threads; ++t) pthread_create(&ids[t], NULL, run, &failed[t]);
    for (int t = 0; t < threads; ++t) pthread_join(ids[t], NULL);
    double wall = now() - start;
    for (int t = 0; t < threads; ++t)
        if (failed[t]) {
            fprintf(stderr, "call_loop: a call failed\n");
            return 1;
        }
    printf("%.1f %.0f\n", wall / (double)count * 1e6, (double)count * threads / wall);
    return 0;
}
