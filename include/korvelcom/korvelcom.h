/* The control's C interface: create a control, read and write its properties and call its
 * methods by their automation names, receive its three events, list its members.  Every
 * language that can call C (Python's ctypes, Java's FFM, C#'s P/Invoke, Go's cgo) reaches the
 * whole control through these few functions, the way the type library opens it to Windows
 * hosts.
 *
 * Stability: the functions and structures below keep their meaning and layout for the whole
 * major version; a later release only adds functions (symbols carry the version node
 * KORVELCOM_3, so a program linked against this release keeps loading with later ones).
 *
 * Threads: a control belongs to the thread that created it (its events run on that thread,
 * inside its calls).  Errors are never C++ exceptions: every call that can fail returns a
 * `korvelcom_status`, and `korvelcom_last_error()` says what failed, per thread.
 *
 * Memory: values the library writes into a caller's `korvelcom_value` (results, written-back
 * arguments, introspection copies) are owned by the library until the caller passes them to
 * `korvelcom_value_clear`; values the caller builds stay the caller's (the library never frees
 * them, not even when it replaces a written-back argument: keep your own pointer to free). */
#ifndef KORVELCOM_KORVELCOM_H
#define KORVELCOM_KORVELCOM_H

#include <stddef.h>
#include <stdint.h>

#include "korvelcom/Export.h"

#define KORVELCOM_C_API KORVELCOM_API

#ifdef __cplusplus
extern "C" {
#endif

/** The version of this interface; it grows when functions are added. */
#define KORVELCOM_C_INTERFACE_VERSION 1

/** What a call returned.  Every failure also sets `korvelcom_last_error()`. */
typedef enum korvelcom_status {
    KORVELCOM_OK = 0,
    KORVELCOM_NO_MEMBER = 1, /**< no member of that name and kind */
    KORVELCOM_BAD_ARGS = 2,  /**< wrong argument count, a value that does not convert, a required
                                  argument omitted, or a null pointer where one is needed */
    KORVELCOM_FAILED = 3,    /**< the member itself failed the call (for example an index below
                                  0, or a property whose port component failed) */
    KORVELCOM_NO_MEMORY = 4
} korvelcom_status;

/** The types of an automation value. */
typedef enum korvelcom_type {
    KORVELCOM_EMPTY = 0, /**< no value; as an argument: omitted (the default applies) */
    KORVELCOM_BOOL = 1,
    KORVELCOM_I16 = 2,
    KORVELCOM_I32 = 3,
    KORVELCOM_STRING = 4, /**< `bytes`/`size`: any bytes, code 0 included (no terminator needed;
                               the library's own strings also end with one, not counted) */
    KORVELCOM_BYTES = 5,  /**< `bytes`/`size` with the array's lower bound `lbound` */
    KORVELCOM_ANY = 6,    /**< in introspection only: a variant parameter or result */
    KORVELCOM_ARRAY = 7   /**< `items`/`size` values with the lower bound `lbound` */
} korvelcom_type;

/** A tagged automation value.  Zero-initialise it (`korvelcom_value v = {0};`) for "empty". */
typedef struct korvelcom_value {
    int32_t type;                  /**< a `korvelcom_type` */
    int32_t lbound;                /**< lower bound of a byte array or array */
    int32_t number;                /**< BOOL (0 false, else true), I16 and I32 values */
    uint32_t owned;                /**< non-zero when the library allocated `bytes`/`items` */
    char* bytes;                   /**< STRING and BYTES data */
    struct korvelcom_value* items; /**< ARRAY elements */
    size_t size;                   /**< bytes of STRING/BYTES, elements of ARRAY */
} korvelcom_value;

/** A member's kind. */
typedef enum korvelcom_kind {
    KORVELCOM_GET = 0,
    KORVELCOM_PUT = 1,
    KORVELCOM_METHOD = 2,
    KORVELCOM_EVENT = 3
} korvelcom_kind;

/** The control's events. */
typedef enum korvelcom_event {
    KORVELCOM_RECEIVED_EVENT = 1,
    KORVELCOM_ERROR_EVENT = 2,
    KORVELCOM_ABORT_ENABLED_EVENT = 3
} korvelcom_event;

typedef struct korvelcom_control korvelcom_control;
/** A platform (loop, clock, ports, settings) as a C++ host built it (`korvel::Platform*`). */
typedef struct korvelcom_platform korvelcom_platform;

/** The event callback.  `error_type` is set for KORVELCOM_ERROR_EVENT only: the error tag as a
 * STRING; the callback may change it with `korvelcom_value_set_string`, which changes the
 * control's `ReceiveError` (the event's argument is that field itself).  Runs on the control's
 * thread, inside the call that raised the event; it may call the control. */
typedef void (*korvelcom_event_callback)(void* user, korvelcom_event event,
                                         korvelcom_value* error_type);

/** Library version text, for example "3.0.0". */
KORVELCOM_C_API const char* korvelcom_version(void);
/** `KORVELCOM_C_INTERFACE_VERSION` of the loaded library. */
KORVELCOM_C_API int korvelcom_interface_version(void);
/** What the calling thread's last failed call failed with; "" when none.  Valid until the
 * thread's next call. */
KORVELCOM_C_API const char* korvelcom_last_error(void);

/** A control on the calling thread's default platform (the system's serial ports, loop and
 * settings).  NULL when it cannot be created (see `korvelcom_last_error`). */
KORVELCOM_C_API korvelcom_control* korvelcom_create(void);
/** A control on a platform a C++ host owns; the platform must outlive the control. */
KORVELCOM_C_API korvelcom_control* korvelcom_create_on(korvelcom_platform* platform);
/** Closes the port when open and frees the control.  NULL is ignored. */
KORVELCOM_C_API void korvelcom_destroy(korvelcom_control* control);
/** Sets (or with NULL removes) the event callback. */
KORVELCOM_C_API void korvelcom_set_event_callback(korvelcom_control* control,
                                                  korvelcom_event_callback callback, void* user);

/** Calls a member by name (case-insensitive) and kind: `args[0..count)` in the member's
 * parameter order (EMPTY or fewer arguments: optional ones take their defaults), converted to
 * the parameters' types as automation does (numbers from text, text from numbers).  Arguments
 * the member writes back are replaced by library-owned values.  `result` (may be NULL) gets
 * the result, EMPTY for none.  A put takes its one value in `args[0]`. */
KORVELCOM_C_API korvelcom_status korvelcom_invoke(korvelcom_control* control, const char* name,
                                                  korvelcom_kind kind, korvelcom_value* args,
                                                  size_t count, korvelcom_value* result);
/** `korvelcom_invoke` of a property get without arguments. */
KORVELCOM_C_API korvelcom_status korvelcom_get(korvelcom_control* control, const char* name,
                                               korvelcom_value* result);
/** `korvelcom_invoke` of a property put. */
KORVELCOM_C_API korvelcom_status korvelcom_put(korvelcom_control* control, const char* name,
                                               const korvelcom_value* value);
/** `korvelcom_invoke` of a method. */
KORVELCOM_C_API korvelcom_status korvelcom_call(korvelcom_control* control, const char* name,
                                                korvelcom_value* args, size_t count,
                                                korvelcom_value* result);

/** Frees what the library owns in `value` (nothing for caller-built values) and empties it. */
KORVELCOM_C_API void korvelcom_value_clear(korvelcom_value* value);
/** Clears `value`, then makes it a library-owned STRING copy of `size` bytes at `data`.
 * Returns KORVELCOM_NO_MEMORY when the copy cannot be made. */
KORVELCOM_C_API korvelcom_status korvelcom_value_set_string(korvelcom_value* value,
                                                            const char* data, size_t size);

/** A parameter as introspection sees it.  Strings stay valid for the process's lifetime. */
typedef struct korvelcom_param {
    const char* name;
    int32_t type;        /**< a `korvelcom_type` (ANY: a variant) */
    int32_t by_ref;      /**< declared by reference */
    int32_t writes_back; /**< the member changes the caller's argument */
    int32_t optional;    /**< has a default, in `default_value` (owned by the library: do not
                              clear) */
    korvelcom_value default_value;
} korvelcom_param;

/** A member as introspection sees it. */
typedef struct korvelcom_member {
    const char* name;
    int32_t kind;        /**< a `korvelcom_kind` */
    int32_t dispatch_id; /**< its automation dispatch id (events: their own id space) */
    int32_t result_type; /**< a `korvelcom_type`; EMPTY for none */
    size_t param_count;
} korvelcom_member;

/** How many members (properties count once per get and once per put) and events there are. */
KORVELCOM_C_API size_t korvelcom_member_count(void);
/** Member `index` (0 to count-1, in the table's order).  KORVELCOM_BAD_ARGS past the end. */
KORVELCOM_C_API korvelcom_status korvelcom_member_info(size_t index, korvelcom_member* out);
/** Parameter `param` of member `index`. */
KORVELCOM_C_API korvelcom_status korvelcom_param_info(size_t index, size_t param,
                                                      korvelcom_param* out);

/** Maps port `port` to an endpoint text (a device path, "tcp://HOST:PORT",
 * "rfc2217://HOST:PORT"; NULL or "" removes the mapping), for the whole process. */
KORVELCOM_C_API korvelcom_status korvelcom_port_map_set(int16_t port, const char* target);
/** Where port `port` leads now, as a library-owned STRING in `out`. */
KORVELCOM_C_API korvelcom_status korvelcom_port_map_lookup(int16_t port, korvelcom_value* out);

#ifdef __cplusplus
}
#endif

#endif /* KORVELCOM_KORVELCOM_H */
