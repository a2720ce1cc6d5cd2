/*
 * korvo_zenoh_bridge: a small C ABI over the Rust `zenoh` crate (1.10.2), the subset that the
 * Korvo VYR middleware and the simulator need. Private to the SDK; the C++ face over it is
 * src/middleware/zenoh.hpp.
 *
 * Conventions (zenoh-c's, where zenoh-c has one):
 * - Functions that can fail return a korvo_result_t: 0 on success, negative on failure, with the
 *   values of zenoh-c's result codes. The text of the last failure of the calling thread is
 *   korvo_zenoh_last_error().
 * - Owned handles come out through `T** out` parameters, set to NULL on failure, and are released
 *   with their korvo_*_drop function (which accepts NULL). A const pointer is a borrow.
 * - Strings that come in are (pointer, length) pairs, not necessarily NUL-terminated, except where
 *   a function says "NUL-terminated". Views handed to callbacks are valid during the call only.
 * - Closures: a call function, a drop function and a context pointer. A closure passed to a
 *   function is always consumed: its drop function runs exactly once, after the last call, on any
 *   thread, and no call follows it. When the function that receives the closure fails, the drop
 *   has already run (on the calling thread) when it returns, so the caller never frees the context
 *   itself. Calls run on zenoh's threads, possibly concurrently for different entities; they must
 *   be short, must not block, must not unwind (no C++ exception may leave them), must not drop
 *   their own entity and must not close or drop the last session handle.
 * - Rust panics abort the process (panic = "abort"); none crosses this ABI.
 * - zenoh must not be called once the process has started exiting (atexit handlers, static
 *   destructors): close sessions and drop every handle before main returns.
 */
#ifndef KORVO_ZENOH_BRIDGE_H
#define KORVO_ZENOH_BRIDGE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes (zenoh-c's values) ---------------------------------------------------- */

typedef int8_t korvo_result_t;

#define KORVO_OK ((korvo_result_t)0)
#define KORVO_EINVAL ((korvo_result_t)-1)          /* invalid argument, key expression, option */
#define KORVO_EPARSE ((korvo_result_t)-2)          /* a configuration that does not parse */
#define KORVO_EIO ((korvo_result_t)-3)             /* a file that cannot be read */
#define KORVO_ENETWORK ((korvo_result_t)-4)
#define KORVO_ENULL ((korvo_result_t)-5)           /* a required pointer is NULL */
#define KORVO_EUNAVAILABLE ((korvo_result_t)-6)
#define KORVO_EDESERIALIZE ((korvo_result_t)-7)
#define KORVO_ESESSION_CLOSED ((korvo_result_t)-8)
#define KORVO_EUTF8 ((korvo_result_t)-9)
#define KORVO_EGENERIC ((korvo_result_t)-128)      /* any other failure of zenoh */

/* ---- option values (zenoh-c's values) --------------------------------------------------- */

typedef enum korvo_congestion_control_t {
  KORVO_CONGESTION_CONTROL_BLOCK = 0,
  KORVO_CONGESTION_CONTROL_DROP = 1,
} korvo_congestion_control_t;

typedef enum korvo_priority_t {
  KORVO_PRIORITY_REAL_TIME = 1,
  KORVO_PRIORITY_INTERACTIVE_HIGH = 2,
  KORVO_PRIORITY_INTERACTIVE_LOW = 3,
  KORVO_PRIORITY_DATA_HIGH = 4,
  KORVO_PRIORITY_DATA = 5,
  KORVO_PRIORITY_DATA_LOW = 6,
  KORVO_PRIORITY_BACKGROUND = 7,
} korvo_priority_t;

typedef enum korvo_reliability_t {
  KORVO_RELIABILITY_BEST_EFFORT = 0,
  KORVO_RELIABILITY_RELIABLE = 1,
} korvo_reliability_t;

typedef enum korvo_locality_t {
  KORVO_LOCALITY_ANY = 0,
  KORVO_LOCALITY_SESSION_LOCAL = 1,
  KORVO_LOCALITY_REMOTE = 2,
} korvo_locality_t;

typedef enum korvo_query_target_t {
  KORVO_QUERY_TARGET_BEST_MATCHING = 0,
  KORVO_QUERY_TARGET_ALL = 1,
  KORVO_QUERY_TARGET_ALL_COMPLETE = 2,
} korvo_query_target_t;

typedef enum korvo_consolidation_mode_t {
  KORVO_CONSOLIDATION_MODE_AUTO = -1, /* zenoh's default: LATEST unless a time range is asked */
  KORVO_CONSOLIDATION_MODE_NONE = 0,
  KORVO_CONSOLIDATION_MODE_MONOTONIC = 1,
  KORVO_CONSOLIDATION_MODE_LATEST = 2,
} korvo_consolidation_mode_t;

typedef enum korvo_sample_kind_t {
  KORVO_SAMPLE_KIND_PUT = 0,
  KORVO_SAMPLE_KIND_DELETE = 1,
} korvo_sample_kind_t;

/* ---- opaque handles --------------------------------------------------------------------- */

typedef struct korvo_config_t korvo_config_t;
typedef struct korvo_session_t korvo_session_t;
typedef struct korvo_keyexpr_t korvo_keyexpr_t;
typedef struct korvo_publisher_t korvo_publisher_t;
typedef struct korvo_subscriber_t korvo_subscriber_t;
typedef struct korvo_queryable_t korvo_queryable_t;
typedef struct korvo_query_t korvo_query_t;

/* ---- diagnostics ------------------------------------------------------------------------ */

/* The text of the last failure reported by a function of this library on the calling thread
 * ("" when none). NUL-terminated; valid until the next failing call on this thread. */
const char* korvo_zenoh_last_error(void);

/* Installs zenoh's log output (tracing) when RUST_LOG is set; otherwise does nothing. */
void korvo_zenoh_try_init_log_from_env(void);

/* ---- configuration ---------------------------------------------------------------------- */

/* zenoh's default configuration (no environment variable is read here). */
korvo_result_t korvo_config_default(korvo_config_t** out);
/* A JSON5 configuration text; KORVO_EPARSE when it does not parse or is not valid. */
korvo_result_t korvo_config_from_str(korvo_config_t** out, const char* json5, size_t len);
/* A configuration file (NUL-terminated path) named *.json5, *.json or *.yaml; KORVO_EIO when it
 * cannot be read, KORVO_EPARSE when it does not parse or has another extension. The failure text
 * does not repeat the path. */
korvo_result_t korvo_config_from_file(korvo_config_t** out, const char* path);
void korvo_config_drop(korvo_config_t* config);

/* ---- session ---------------------------------------------------------------------------- */

/* Opens a session. `config` is consumed whether or not the session opens. */
korvo_result_t korvo_session_open(korvo_session_t** out, korvo_config_t* config);
/* Closes the session (blocking, at most zenoh's close time-out): its subscribers and queryables
 * stop and their closures are dropped; further operations on it fail. Closing a closed session
 * does nothing. Never call it from a callback. */
korvo_result_t korvo_session_close(const korvo_session_t* session);
/* Releases the handle; closes the session first when it is still open. Never from a callback. */
void korvo_session_drop(korvo_session_t* session);

/* ---- key expressions -------------------------------------------------------------------- */

/* Canonizes `s` and makes a key expression of it; KORVO_EINVAL when it is not valid. */
korvo_result_t korvo_keyexpr_from_substr_autocanonize(korvo_keyexpr_t** out, const char* s,
                                                      size_t len);
/* The canonical text (not NUL-terminated), valid as long as the key expression. */
void korvo_keyexpr_as_str(const korvo_keyexpr_t* keyexpr, const char** data, size_t* len);
void korvo_keyexpr_drop(korvo_keyexpr_t* keyexpr);

/* ---- publisher -------------------------------------------------------------------------- */

typedef struct korvo_publisher_options_t {
  korvo_congestion_control_t congestion_control; /* default DROP */
  korvo_priority_t priority;                     /* default DATA */
  bool is_express;                               /* default false */
  korvo_reliability_t reliability;               /* default RELIABLE */
  korvo_locality_t allowed_destination;          /* default ANY */
} korvo_publisher_options_t;

void korvo_publisher_options_default(korvo_publisher_options_t* options);
/* `options` may be NULL for the defaults; an out-of-range option value is KORVO_EINVAL. */
korvo_result_t korvo_declare_publisher(const korvo_session_t* session, korvo_publisher_t** out,
                                       const korvo_keyexpr_t* keyexpr,
                                       const korvo_publisher_options_t* options);
/* Puts `len` bytes (payload may be NULL when len is 0) with the given encoding text
 * (NUL-terminated, e.g. "zenoh/serialized"; NULL for zenoh's default encoding). */
korvo_result_t korvo_publisher_put(const korvo_publisher_t* publisher, const uint8_t* payload,
                                   size_t len, const char* encoding);
/* Undeclares the publisher and releases the handle. */
void korvo_publisher_drop(korvo_publisher_t* publisher);

/* ---- subscriber ------------------------------------------------------------------------- */

typedef struct korvo_sample_view_t {
  const uint8_t* payload;
  size_t payload_len;
  const char* keyexpr; /* not NUL-terminated */
  size_t keyexpr_len;
  const char* encoding; /* not NUL-terminated */
  size_t encoding_len;
  korvo_sample_kind_t kind;
} korvo_sample_view_t;

typedef struct korvo_closure_sample_t {
  void* context;
  void (*call)(const korvo_sample_view_t* sample, void* context);
  void (*drop)(void* context); /* may be NULL */
} korvo_closure_sample_t;

typedef struct korvo_subscriber_options_t {
  korvo_locality_t allowed_origin; /* default ANY */
} korvo_subscriber_options_t;

void korvo_subscriber_options_default(korvo_subscriber_options_t* options);
/* The closure is consumed (see the header comment). `options` may be NULL. */
korvo_result_t korvo_declare_subscriber(const korvo_session_t* session,
                                        korvo_subscriber_t** out, const korvo_keyexpr_t* keyexpr,
                                        korvo_closure_sample_t closure,
                                        const korvo_subscriber_options_t* options);
/* Undeclares the subscriber, waits until no call of its callback is running, and releases the
 * handle; the closure's drop runs exactly once, normally before this returns. Never from the
 * subscriber's own callback, nor while holding a lock that its callback takes. */
void korvo_subscriber_drop(korvo_subscriber_t* subscriber);

/* ---- get (query) ------------------------------------------------------------------------ */

typedef struct korvo_reply_view_t {
  bool is_ok;              /* true: a sample; false: an error reply */
  const uint8_t* payload;  /* the sample's or the error's payload */
  size_t payload_len;
  const char* encoding;    /* not NUL-terminated */
  size_t encoding_len;
  const char* keyexpr;     /* the sample's key expression; empty for an error reply */
  size_t keyexpr_len;
} korvo_reply_view_t;

typedef struct korvo_closure_reply_t {
  void* context;
  void (*call)(const korvo_reply_view_t* reply, void* context);
  /* "finished": runs exactly once, after the last reply, when the query ends (all repliers
   * done, time-out, or session closed). May be NULL. */
  void (*drop)(void* context);
} korvo_closure_reply_t;

typedef struct korvo_get_options_t {
  korvo_query_target_t target;               /* default BEST_MATCHING */
  korvo_consolidation_mode_t consolidation;  /* default AUTO */
  korvo_congestion_control_t congestion_control; /* default BLOCK */
  korvo_priority_t priority;                 /* default DATA */
  bool is_express;                           /* default false */
  korvo_locality_t allowed_destination;      /* default ANY */
  uint64_t timeout_ms;                       /* 0: the session's configured default */
  const uint8_t* payload;                    /* NULL: the query carries no payload */
  size_t payload_len;
  const char* encoding;                      /* NUL-terminated; NULL: zenoh's default */
} korvo_get_options_t;

void korvo_get_options_default(korvo_get_options_t* options);
/* Issues a query on `keyexpr` with the `parameters` text (may be NULL when len is 0). The closure
 * is consumed: on KORVO_OK its calls and its "finished" drop follow on zenoh's threads; on failure
 * the drop has already run, on this thread, when the function returns. `options` may be NULL. */
korvo_result_t korvo_get(const korvo_session_t* session, const korvo_keyexpr_t* keyexpr,
                         const char* parameters, size_t parameters_len,
                         korvo_closure_reply_t closure, const korvo_get_options_t* options);

/* ---- queryable -------------------------------------------------------------------------- */

typedef struct korvo_closure_query_t {
  void* context;
  /* `query` is owned by the callee, which must pass it to korvo_query_drop exactly once, inside
   * the call or later from any thread. */
  void (*call)(korvo_query_t* query, void* context);
  void (*drop)(void* context); /* may be NULL */
} korvo_closure_query_t;

typedef struct korvo_queryable_options_t {
  bool complete;                   /* default false */
  korvo_locality_t allowed_origin; /* default ANY */
} korvo_queryable_options_t;

void korvo_queryable_options_default(korvo_queryable_options_t* options);
/* The closure is consumed (see the header comment). `options` may be NULL. */
korvo_result_t korvo_declare_queryable(const korvo_session_t* session, korvo_queryable_t** out,
                                       const korvo_keyexpr_t* keyexpr,
                                       korvo_closure_query_t closure,
                                       const korvo_queryable_options_t* options);
/* Undeclares the queryable, waits until no call of its callback is running, releases the handle.
 * Queries already handed out stay valid. Never from the queryable's own callback, nor while
 * holding a lock that its callback takes. */
void korvo_queryable_drop(korvo_queryable_t* queryable);

/* The query's key expression and parameters (not NUL-terminated), valid as long as the query. */
void korvo_query_keyexpr(const korvo_query_t* query, const char** data, size_t* len);
void korvo_query_parameters(const korvo_query_t* query, const char** data, size_t* len);
/* The query's payload, valid as long as the query; returns false (and an empty view) when the
 * query carries none. */
bool korvo_query_payload(const korvo_query_t* query, const uint8_t** data, size_t* len);
/* The payload's encoding text (not NUL-terminated); false when the query carries no payload. */
bool korvo_query_encoding(const korvo_query_t* query, const char** data, size_t* len);
/* Replies with a sample on `keyexpr` (NULL: the query's own key expression). `encoding`:
 * NUL-terminated, NULL for zenoh's default. May be called several times. */
korvo_result_t korvo_query_reply(const korvo_query_t* query, const korvo_keyexpr_t* keyexpr,
                                 const uint8_t* payload, size_t len, const char* encoding);
/* Replies with an error carrying `payload`. */
korvo_result_t korvo_query_reply_err(const korvo_query_t* query, const uint8_t* payload,
                                     size_t len, const char* encoding);
/* Releases the query; the final response of the query goes out with it. */
void korvo_query_drop(korvo_query_t* query);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* KORVO_ZENOH_BRIDGE_H */
