/*
 * libvelkdirectfe: client library for the local platform management daemon.
 *
 * Every function that talks to the daemon opens a fresh connection to
 * "/tmp/velkdirect.sock", issues one request, copies the answer into memory
 * the caller owns and closes the connection. The library keeps no state.
 *
 * Another socket: when the environment variable VELKDIRECT_SOCKET
 * (VELKDIRECTFE_SOCKET_ENV) names a path, every call connects there instead;
 * it is read at each call with secure_getenv, so a set-user-id or
 * set-group-id program always uses the fixed path. A path longer than a
 * socket address holds (107 bytes) fails every call with -1. The peer check
 * below applies to that socket unchanged.
 *
 * Return convention: 0 is success, -1 a local failure (daemon unreachable,
 * RPC failure, memory exhausted, a null argument), any other value is the
 * daemon's own status, passed on unchanged. A daemon that answers -1 itself
 * cannot be told from a local failure.
 *
 * Null pointers: every name and every output pointer must be non-null. A
 * null one makes the function return -1 at once, before it connects, and
 * nothing is sent or written. (The exceptions are stated where they apply:
 * the FRU buffers may be null when their length is 0.)
 *
 * Outputs after a failure: when the result is not 0, outputs keep what they
 * held before the call, with these exceptions, all after the daemon answered
 * status 0 but the library could not copy the answer (memory exhausted, or
 * association member slots beyond their limit, see below; result -1):
 *   - list queries (..._attrs, velkdirectfe_get_entity_associations) have
 *     stored the daemon's count in *count and null in the array pointer;
 *   - single queries (..._attr, ..._attr_by_logical_num,
 *     velkdirectfe_get_entity_association) and
 *     velkdirectfe_logical_num_to_strid may have stored null in their
 *     pointer;
 *   - velkdirectfe_get_platform_names may have stored null in name1, or in
 *     name1 and name2 (lead_byte keeps its value).
 * Nothing a failed call stored needs to be released, and no pointer a
 * failed call stored points to memory.
 *
 * Units and meanings: the library carries every value without interpreting
 * it; the daemon defines them. The meanings given below are those of the
 * daemon that ships with this library (velkd-sim, see its README), which
 * follow the usual conventions of platform management.
 *
 * Ownership: records, lists and strings handed out come from malloc and
 * belong to the caller. Release record arrays with the plural free function
 * of their kind (count 1 for a single query), property lists with
 * velkdirectfe_nvlist_free and plain strings with free().
 *
 * The handle argument exists for symmetry; no function gives it a meaning.
 * All functions may be called from any number of threads at once.
 */
#ifndef VELKDIRECTFE_H
#define VELKDIRECTFE_H

/* The version of this header (and of the library built with it). The build
 * reads these lines; the shared library's soname follows the major number. */
#define VELKDIRECTFE_VERSION_MAJOR 1
#define VELKDIRECTFE_VERSION_MINOR 0
#define VELKDIRECTFE_VERSION_PATCH 0
#define VELKDIRECTFE_VERSION_STRING "1.0.0"

/* The socket every call connects to, the variable that names another one
 * instead, and the time a call may take with the daemon (see below). */
#define VELKDIRECTFE_SOCKET_PATH "/tmp/velkdirect.sock"
#define VELKDIRECTFE_SOCKET_ENV "VELKDIRECT_SOCKET"
#define VELKDIRECTFE_CALL_SECONDS 25

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VELKDIRECTFE_API __attribute__((visibility("default")))
#else
#define VELKDIRECTFE_API
#endif

/* ---- Property lists ---------------------------------------------------- */

/* One name/value pair of an object's properties, in the daemon's order. */
typedef struct velkdirectfe_nvlist {
    char *name;
    char *value;
    struct velkdirectfe_nvlist *next;
} velkdirectfe_nvlist_t;

/* Releases every node of the list and both strings of each; null is a no-op. */
VELKDIRECTFE_API void velkdirectfe_nvlist_free(velkdirectfe_nvlist_t *list);

/* ---- Attribute records --------------------------------------------------
 * The opaque runs carry bytes that only the daemon interprets. With 4-byte
 * pointers each record is exactly the daemon's fixed block (152, 44, 104 and
 * 28 bytes). */

typedef struct velkdirectfe_sensor_attr {
    uint8_t opaque0[8];
    char *path;
    char *aux_str;              /* the sensor's string id */
    uint8_t opaque1[28];
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque2[50];
    void *aux_ptr_a;            /* null after a query; freed when set */
    void *aux_ptr_b;            /* null after a query; freed when set */
    uint8_t opaque3[28];
    char *opt_str;              /* null when the daemon sent no third string */
    velkdirectfe_nvlist_t *props;
} velkdirectfe_sensor_attr_t;

typedef struct velkdirectfe_ind_attr {
    uint8_t opaque0[4];
    char *path;
    char *aux_str;              /* the indicator's name */
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque1[14];
    velkdirectfe_nvlist_t *props;
} velkdirectfe_ind_attr_t;

typedef struct velkdirectfe_fru_attr {
    uint8_t opaque0[4];
    char *path;
    char *aux_str;              /* the FRU's name */
    uint8_t opaque1[4];
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque2[70];
    velkdirectfe_nvlist_t *props;
} velkdirectfe_fru_attr_t;

typedef struct velkdirectfe_comp_attr {
    uint8_t opaque0[4];
    char *path;
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque1[2];
    velkdirectfe_nvlist_t *props;
} velkdirectfe_comp_attr_t;

/* Singular frees release what one record points to, never the record. A
 * null record is a no-op. */
VELKDIRECTFE_API void velkdirectfe_free_sensor_attr(velkdirectfe_sensor_attr_t *attr);
VELKDIRECTFE_API void velkdirectfe_free_indicator_attr(velkdirectfe_ind_attr_t *attr);
VELKDIRECTFE_API void velkdirectfe_free_fru_attr(velkdirectfe_fru_attr_t *attr);
VELKDIRECTFE_API void velkdirectfe_free_component_attr(velkdirectfe_comp_attr_t *attr);

/* Plural frees release count records and then the array. They return -1 and
 * release nothing for a null array or a count of 0, else 0. */
VELKDIRECTFE_API int velkdirectfe_free_sensor_attrs(int handle, uint32_t count,
                                                    velkdirectfe_sensor_attr_t *attrs);
VELKDIRECTFE_API int velkdirectfe_free_indicator_attrs(int handle, uint32_t count,
                                                       velkdirectfe_ind_attr_t *attrs);
VELKDIRECTFE_API int velkdirectfe_free_fru_attrs(int handle, uint32_t count,
                                                 velkdirectfe_fru_attr_t *attrs);
VELKDIRECTFE_API int velkdirectfe_free_component_attrs(int handle, uint32_t count,
                                                       velkdirectfe_comp_attr_t *attrs);

/* ---- What a call guarantees, whatever answers ---------------------------
 * Whoever binds "/tmp/velkdirect.sock" first answers, and a daemon may also
 * simply be broken. Every function that talks to the daemon therefore keeps
 * these bounds:
 *
 * Time: a call is done with the daemon within 25 seconds of its start,
 *   connection attempts and their pauses included (an absent daemon costs 3
 *   attempts a second apart, about 2 seconds; a daemon that accepts and
 *   never answers, or whose backlog of connections stays full, 25); copying
 *   the answer out follows.
 *   A reply for another transaction, or one that is not a well-formed RPC
 *   reply, fails the call at once with -1.
 * Memory: a reply may carry at most 256 MiB (268,435,456 bytes, record marks
 *   included); beyond that the call fails with -1 and whatever was decoded
 *   is released. Memory is taken only as reply bytes arrive, so a call costs
 *   at most a small multiple of what the daemon actually sent. The one thing
 *   a reply counts without carrying it is an entity association's member
 *   slots (member_count, 8 bytes each): the slots of one reply may come to
 *   at most 256 MiB too (33,554,432 slots in all), and beyond that the query
 *   fails with -1 and releases everything. The largest reply of a
 *   100,000-sensor platform is about 88 MB.
 * Peer: after connecting, the library asks the kernel who serves the socket.
 *   It talks only to a daemon running as root, as the calling process's
 *   effective user, or as the account the library was built to trust
 *   (CMake option VELKDIRECTFE_DAEMON_USER, none by default). Any other is
 *   refused with -1 at once: nothing is sent to it, and there is no retry.
 * Cancellation: a thread may be cancelled (pthread_cancel, deferred
 *   cancellation) while a call waits: connecting, pausing between attempts,
 *   sending, or awaiting the reply. As with a read(2) cancelled there, the
 *   call does not return and the thread ends: the call's socket is closed,
 *   all it allocated is released, no output has been written, and the
 *   thread's cleanup handlers (and, in C++, its destructors) run as for any
 *   cancellation. A cancellation that arrives while the answer is copied out
 *   is acted on at the thread's next cancellation point. The functions are
 *   not async-cancel-safe: call them with asynchronous cancellation off.
 */

/* ---- Open and close ---------------------------------------------------- */

/* Stores 0 in *handle and returns 0; makes no connection. */
VELKDIRECTFE_API int velkdirectfe_open(int *handle);
/* Does nothing and returns 0. */
VELKDIRECTFE_API int velkdirectfe_close(int handle);

/* ---- Attribute queries --------------------------------------------------
 * Single queries store one record in *attr (release with the plural free and
 * count 1). List queries store the count, then an array of that many records
 * (release with the plural free and that count). A name must not be null. */

VELKDIRECTFE_API int velkdirectfe_get_sensor_attr(int handle, const char *name,
                                                  velkdirectfe_sensor_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_sensor_attr_by_logical_num(int handle, uint32_t logical_num,
                                                                 velkdirectfe_sensor_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_sensor_attrs(int handle, uint32_t *count,
                                                   velkdirectfe_sensor_attr_t **attrs);
VELKDIRECTFE_API int velkdirectfe_get_indicator_attr(int handle, const char *name,
                                                     velkdirectfe_ind_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_indicator_attrs(int handle, uint32_t *count,
                                                      velkdirectfe_ind_attr_t **attrs);
VELKDIRECTFE_API int velkdirectfe_get_fru_attr(int handle, const char *name,
                                               velkdirectfe_fru_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_fru_attrs(int handle, uint32_t *count,
                                                velkdirectfe_fru_attr_t **attrs);
VELKDIRECTFE_API int velkdirectfe_get_component_attrs(int handle, uint32_t *count,
                                                      velkdirectfe_comp_attr_t **attrs);

/* ---- Platform names and sensor string ids ------------------------------ */

typedef struct velkdirectfe_plat_names {
    uint8_t lead_byte;
    char *name1;
    char *name2;
} velkdirectfe_plat_names_t;

/* Fills lead_byte and two heap strings (release each with free()). */
VELKDIRECTFE_API int velkdirectfe_get_platform_names(int handle, velkdirectfe_plat_names_t *names);
/* Stores the sensor's string id as a heap string (release with free()). */
VELKDIRECTFE_API int velkdirectfe_logical_num_to_strid(int handle, int logical_num, char **strid);

/* ---- Sensor values, data and thresholds -------------------------------- */

/* Thresholds, wherever six of them appear (the thresholds array below,
 * velkdirectfe_get_normalized_thresholds, bits 0 to 5 of
 * pollctrl_thresh_t.ctrl), come in this order:
 *   [0] lower non-recoverable  [1] lower critical  [2] lower non-critical
 *   [3] upper non-critical     [4] upper critical  [5] upper non-recoverable
 * They are normalized values, in the sensor's unit (the daemon gives the
 * unit as the sensor's "unit" property). */

/* The full reading of one sensor. */
typedef struct velkdirectfe_sensor_data {
    uint16_t reading;           /* the raw reading (0 to 255 with velkd-sim) */
    float normal_value;         /* the reading in the sensor's unit */
    int32_t byte1;              /* 0 to 255: threshold state, bit i set when the
                                   reading is at or beyond threshold [i] */
    uint16_t word1;             /* hysteresis in raw counts: positive in the
                                   high byte, negative in the low byte */
    int32_t byte2;              /* 0 to 255: flags, bit 0 the sensor is polled,
                                   bit 1 daemon-wide polling runs, bit 2 the
                                   reading is overridden */
    int32_t byte3;              /* 0 to 255: the sensor's type */
    uint16_t word2;             /* polling interval in milliseconds */
    float thresholds[6];        /* normalized, in the order above */
} velkdirectfe_sensor_data_t;

/* Raw reading and normalized value of one sensor, by string id or logical
 * number. Both outputs are written on success only. */
VELKDIRECTFE_API int velkdirectfe_get_sensor_vals(int handle, const char *sensor,
                                                  uint16_t *reading, float *normal_value);
VELKDIRECTFE_API int velkdirectfe_get_sensor_vals_by_logical_num(int handle, uint32_t logical_num,
                                                                 uint16_t *reading,
                                                                 float *normal_value);
/* The full reading record of one sensor into the caller's *data (every
 * field on success; untouched otherwise). */
VELKDIRECTFE_API int velkdirectfe_get_sensor_data(int handle, const char *sensor,
                                                  velkdirectfe_sensor_data_t *data);
VELKDIRECTFE_API int velkdirectfe_get_sensor_data_by_logical_num(int handle, uint32_t logical_num,
                                                                 velkdirectfe_sensor_data_t *data);
/* The six normalized thresholds of the sensor with logical number sensor_num
 * into the caller's thresholds[0..5], in the order above; untouched unless
 * the result is 0. */
VELKDIRECTFE_API int velkdirectfe_get_normalized_thresholds(int handle, int sensor_num,
                                                            float *thresholds);

/* ---- Sensor control and polling ---------------------------------------- */

/* Threshold settings of one sensor; sent exactly as the caller fills it.
 * With velkd-sim: bit i (0 to 5) of ctrl sets threshold [i] (order above)
 * to the raw value val(i+1), converted to the normalized value; bit 6 sets
 * the positive hysteresis to val7 and bit 7 the negative one to val8 (raw
 * counts); other bits, or thresholds that would decrease from one to the
 * next, are refused and nothing changes. */
typedef struct pollctrl_thresh {
    uint32_t sensor_num;
    uint16_t ctrl;
    uint8_t val1;
    uint8_t val2;
    uint8_t val3;
    uint8_t val4;
    uint8_t val5;
    uint8_t val6;
    uint8_t val7;
    uint8_t val8;
} pollctrl_thresh_t;

/* The setters return the daemon's answer: 0 on success. thresh_vals must
 * not be null. */
VELKDIRECTFE_API int velkdirectfe_set_threshold_vals_internal(int handle, pollctrl_thresh_t *thresh_vals);
/* Overrides the sensor's reading with the raw value reading (0 to 255 with
 * velkd-sim) until velkdirectfe_reset_all_sensors_state. */
VELKDIRECTFE_API int velkdirectfe_set_sensor_reading(int handle, uint32_t sensor_num, uint16_t reading);
/* Starts polling the sensor. On success writes *poll_word (the polling
 * interval in milliseconds) and *poll_short (the polling generation, which
 * changes with every enable); both untouched otherwise. */
VELKDIRECTFE_API int velkdirectfe_enable_sensor_polling(int handle, uint32_t sensor_num,
                                                        uint32_t *poll_word, uint16_t *poll_short);
/* Stops polling the sensor. Sends *poll_short, read once after the
 * connection is made (never when no connection could be made): the
 * generation that enabling returned, or 0 for "whatever the generation";
 * velkd-sim refuses a stale generation with status 7. On success writes only
 * *poll_word (the interval that was in force); *poll_short is never written. */
VELKDIRECTFE_API int velkdirectfe_disable_sensor_polling(int handle, uint32_t sensor_num,
                                                         uint32_t *poll_word,
                                                         const uint16_t *poll_short);
/* Daemon-wide polling: 0 stops polling of every sensor, 1 starts it again. */
VELKDIRECTFE_API int velkdirectfe_set_poll_state(int handle, uint8_t poll_state);
/* Drops every reading override and restores the described thresholds,
 * hysteresis and polling of every sensor; daemon-wide polling starts. */
VELKDIRECTFE_API int velkdirectfe_reset_all_sensors_state(int handle);

/* ---- Entity associations ----------------------------------------------- */

/* One member entity, each key byte widened without sign. */
typedef struct velkdirectfe_entity_member {
    uint32_t key0;
    uint32_t key1;
} velkdirectfe_entity_member_t;

/* members has member_count slots: the first filled from the member entities
 * the daemon listed, any beyond them zero. All the slots of one query come to
 * at most 33,554,432 (256 MiB); an answer claiming more fails with -1. */
typedef struct velkdirectfe_entity_assoc {
    uint8_t key0;
    int32_t reserved;           /* always 0 */
    int32_t key1;               /* 0 to 255 */
    uint32_t assoc_word;
    uint32_t member_count;
    velkdirectfe_entity_member_t *members; /* member_count slots, owned by the record */
} velkdirectfe_entity_assoc_t;

/* One association in *assoc (release with the free below and count 1). */
VELKDIRECTFE_API int velkdirectfe_get_entity_association(int handle, uint8_t key0, uint8_t key1,
                                                         velkdirectfe_entity_assoc_t **assoc);
/* Every association: the count, then an array of that many records. */
VELKDIRECTFE_API int velkdirectfe_get_entity_associations(int handle, uint32_t *count,
                                                          velkdirectfe_entity_assoc_t **assocs);
/* Releases the member blocks and the array; -1 for null or a count of 0. */
VELKDIRECTFE_API int velkdirectfe_free_entity_associations(int handle, uint32_t count,
                                                           velkdirectfe_entity_assoc_t *assocs);

/* ---- Reading conversions -----------------------------------------------
 * A raw byte to the normalized value in the sensor's unit, or back. The
 * daemon holds the conversion (velkd-sim: normal = m * raw + b, and the raw
 * value is rounded and clamped to 0..255, so a value beyond the range gives
 * 0 or 255). The output is written on success only. */

VELKDIRECTFE_API int velkdirectfe_convert_normal_to_raw(int handle, const char *sensor,
                                                        float normal_value, uint8_t *raw_value);
VELKDIRECTFE_API int velkdirectfe_convert_raw_to_normal(int handle, const char *sensor,
                                                        uint8_t raw_value, float *normal_value);

/* ---- Indicator modes --------------------------------------------------- */

/* Modes are bytes; by convention 0 off, 1 on, 2 slow blink, 3 fast blink.
 * Each indicator accepts only its own set (velkd-sim: status 3 otherwise).
 * Stores the indicator's mode (0 to 255) in *mode, on success only. */
VELKDIRECTFE_API int velkdirectfe_get_indicator_mode(int handle, const char *indicator, int32_t *mode);
VELKDIRECTFE_API int velkdirectfe_set_indicator_mode(int handle, const char *indicator, uint8_t mode);
/* As above for duration milliseconds; then the indicator returns to the
 * mode it had before (the last mode set without a duration). A duration of
 * 0 is exactly velkdirectfe_set_indicator_mode: the mode is set for good and
 * a pending return is cancelled. */
VELKDIRECTFE_API int velkdirectfe_set_indicator_mode_for_duration(int handle, const char *indicator,
                                                                  uint8_t mode, uint32_t duration);

/* ---- FRU direct access ------------------------------------------------- */

/* Reads up to length bytes at offset into buffer (room for length bytes;
 * may be null when length is 0) and their number into *read_len. On success
 * the first *read_len bytes of buffer are written and the rest left as they
 * were; on failure neither buffer nor *read_len is touched. An answer longer
 * than length fails with -1. velkd-sim refuses offset + length beyond the
 * data area with status 2. */
VELKDIRECTFE_API int velkdirectfe_read_fru_direct(int handle, const char *fru, uint32_t offset,
                                                  uint32_t length, uint8_t *buffer,
                                                  uint32_t *read_len);
/* Writes size bytes of buffer (may be null when size is 0) at offset; on
 * success the daemon's result in *write_result (velkd-sim: the number of
 * bytes written), untouched otherwise. */
VELKDIRECTFE_API int velkdirectfe_write_fru_direct(int handle, const char *fru, uint32_t offset,
                                                   uint32_t size, const uint8_t *buffer,
                                                   int32_t *write_result);

/* ---- Inventory walk ---------------------------------------------------- */

/* Called once per node below the root, level by level. The pointers are
 * valid only during the call. The result is handed to the node's children as
 * parent_data. The callback must not throw (or longjmp out): the walk cannot
 * be stopped early. If a C++ callback throws anyway, the exception is caught
 * and discarded inside the library, that node's result counts as null and
 * the walk goes on; no exception leaves the library. A callback may be
 * cancelled, though: when its thread acts on a cancellation in it (or in one
 * of the walk's queries), the walk ends there as a cancelled call does. The
 * nodes not yet reported are not, velkdirectfe_inventory_direct does not
 * return, everything the walk holds is released and the thread ends. */
typedef void *(*velkdirectfe_inv_cb_t)(const char *path, uint32_t kind, const uint8_t *desc,
                                       const velkdirectfe_nvlist_t *props, void *parent_data);

/* Walks every FRU, sensor, indicator and component as one tree under a root
 * whose data is root_data. Either every node is reported and the result is
 * 0, or the callback is never called and the result is -1 (no object
 * obtained, no memory for the tree, or a null callback); a cancelled thread
 * aside (see the callback). A query that fails only leaves its kind of
 * object out. */
VELKDIRECTFE_API int velkdirectfe_inventory_direct(int handle, velkdirectfe_inv_cb_t callback,
                                                   void *root_data);

#ifdef __cplusplus
}
#endif

#endif /* VELKDIRECTFE_H */
