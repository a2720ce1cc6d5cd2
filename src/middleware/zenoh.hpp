// Our zenoh C++ face: the subset of zenoh-cpp that the middleware needs, as thin move-only owners
// over the C ABI of our bridge crate (src/middleware/bridge/include/korvo_zenoh_bridge.h).
//
// Names, signatures and exception texts follow zenoh-cpp 1.x, with these differences:
// - payloads go in as std::span<const uint8_t> and come out as spans (no zenoh::Bytes);
// - Sample, Reply and ReplyError are views, valid only during the callback that receives them;
//   their key expressions and encodings are std::string_view;
// - option enumerations are the bridge's (KORVO_CONGESTION_CONTROL_BLOCK, ... with zenoh-c's
//   values) under zenoh-cpp's type names;
// - Config::create_default() honours the ZENOH_CONFIG environment variable (DESIGN section 4).
//
// Threading: callbacks run on zenoh's threads, possibly concurrently. They must be short and must
// not block; an exception that leaves a callback is swallowed at the C boundary. Never destroy a
// callback's own Subscriber or Queryable, nor the last Session, from inside a callback. Close or
// destroy every Session before main returns (zenoh must not run during process exit).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "korvo_zenoh_bridge.h"

namespace zenoh {

using ZResult = int8_t;

using CongestionControl = ::korvo_congestion_control_t;
using Priority = ::korvo_priority_t;
using Reliability = ::korvo_reliability_t;
using Locality = ::korvo_locality_t;
using QueryTarget = ::korvo_query_target_t;
using ConsolidationMode = ::korvo_consolidation_mode_t;
using SampleKind = ::korvo_sample_kind_t;

// zenoh-cpp's exception type: what() is the text, then "(Error code: ", the code, " )".
// detail() carries the bridge's explanation of the failure when there is one (not in what()).
class ZException : public std::runtime_error {
 public:
  ZException(const std::string& message, ZResult err, std::string detail = {});
  ZResult e;
  ZResult error_code() const { return e; }
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

// Installs zenoh's log output when RUST_LOG is set.
void try_init_log_from_env();

// Placeholder for an absent drop callback, as zenoh-cpp's closures::none.
namespace closures {
inline constexpr std::nullptr_t none = nullptr;
}  // namespace closures

class Encoding {
 public:
  // zenoh's default encoding ("zenoh/bytes").
  Encoding() = default;
  explicit Encoding(std::string_view s) : text_(s) {}
  const std::string& as_string() const { return text_; }

  struct Predefined {
    static Encoding zenoh_bytes() { return Encoding("zenoh/bytes"); }
    static Encoding zenoh_string() { return Encoding("zenoh/string"); }
    static Encoding zenoh_serialized() { return Encoding("zenoh/serialized"); }
  };

 private:
  std::string text_ = "zenoh/bytes";
};

class Config {
 public:
  // zenoh's default configuration; when ZENOH_CONFIG names a file (non-empty), that file instead.
  static Config create_default();
  // A .json5, .json or .yaml file; failures name the file.
  static Config from_file(const std::string& path);
  // A JSON5 text.
  static Config from_str(const std::string& s);

  Config(Config&& other) noexcept;
  Config& operator=(Config&& other) noexcept;
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;
  ~Config();

  // Releases ownership of the C handle (used by Session::open).
  ::korvo_config_t* take() noexcept;

 private:
  explicit Config(::korvo_config_t* handle) : handle_(handle) {}
  ::korvo_config_t* handle_ = nullptr;
};

class KeyExpr {
 public:
  // Throws ZException "Failed to construct KeyExpr from: <text>" when the text (canonized first
  // unless autocanonize is false) is not a key expression.
  explicit KeyExpr(std::string_view key_expr, bool autocanonize = true);
  KeyExpr(KeyExpr&& other) noexcept;
  KeyExpr& operator=(KeyExpr&& other) noexcept;
  KeyExpr(const KeyExpr&) = delete;
  KeyExpr& operator=(const KeyExpr&) = delete;
  ~KeyExpr();

  std::string_view as_string_view() const;
  const ::korvo_keyexpr_t* handle() const { return handle_; }

 private:
  ::korvo_keyexpr_t* handle_ = nullptr;
};

// A received sample; a view valid during the callback only.
class Sample {
 public:
  Sample(std::span<const uint8_t> payload, std::string_view key_expr,
         std::string_view encoding = "zenoh/bytes", SampleKind kind = KORVO_SAMPLE_KIND_PUT)
      : payload_(payload), key_expr_(key_expr), encoding_(encoding), kind_(kind) {}
  std::span<const uint8_t> get_payload() const { return payload_; }
  std::string_view get_keyexpr() const { return key_expr_; }
  std::string_view get_encoding() const { return encoding_; }
  SampleKind get_kind() const { return kind_; }

 private:
  std::span<const uint8_t> payload_;
  std::string_view key_expr_;
  std::string_view encoding_;
  SampleKind kind_;
};

// An error reply (including zenoh's "Timeout"); a view valid during the callback only.
class ReplyError {
 public:
  ReplyError(std::span<const uint8_t> payload, std::string_view encoding)
      : payload_(payload), encoding_(encoding) {}
  std::span<const uint8_t> get_payload() const { return payload_; }
  std::string_view get_encoding() const { return encoding_; }

 private:
  std::span<const uint8_t> payload_;
  std::string_view encoding_;
};

// One reply to a query: a sample or an error; a view valid during the callback only.
class Reply {
 public:
  explicit Reply(Sample ok) : ok_(ok), err_({}, {}), is_ok_(true) {}
  explicit Reply(ReplyError err) : ok_({}, {}), err_(err), is_ok_(false) {}
  bool is_ok() const { return is_ok_; }
  // Throws ZException when the reply is of the other kind.
  const Sample& get_ok() const;
  const ReplyError& get_err() const;

 private:
  Sample ok_;
  ReplyError err_;
  bool is_ok_;
};

struct PublisherOptions {
  CongestionControl congestion_control = KORVO_CONGESTION_CONTROL_DROP;
  Priority priority = KORVO_PRIORITY_DATA;
  bool is_express = false;
  Reliability reliability = KORVO_RELIABILITY_RELIABLE;
  Locality allowed_destination = KORVO_LOCALITY_ANY;
  static PublisherOptions create_default() { return {}; }
};

struct PutOptions {
  std::optional<Encoding> encoding;  // none: zenoh's default
  static PutOptions create_default() { return {}; }
};

struct SubscriberOptions {
  Locality allowed_origin = KORVO_LOCALITY_ANY;
  static SubscriberOptions create_default() { return {}; }
};

struct QueryConsolidation {
  ConsolidationMode mode = KORVO_CONSOLIDATION_MODE_AUTO;
};

struct GetOptions {
  QueryTarget target = KORVO_QUERY_TARGET_BEST_MATCHING;
  QueryConsolidation consolidation = {};
  std::optional<std::span<const uint8_t>> payload;  // must stay valid during Session::get
  std::optional<Encoding> encoding;
  Priority priority = KORVO_PRIORITY_DATA;
  CongestionControl congestion_control = KORVO_CONGESTION_CONTROL_BLOCK;
  bool is_express = false;
  Locality allowed_destination = KORVO_LOCALITY_ANY;
  uint64_t timeout_ms = 0;  // 0: the session's configured default (10 s by zenoh's default)
  static GetOptions create_default() { return {}; }
};

struct QueryableOptions {
  bool complete = false;
  Locality allowed_origin = KORVO_LOCALITY_ANY;
  static QueryableOptions create_default() { return {}; }
};

struct ReplyOptions {
  std::optional<Encoding> encoding;
  static ReplyOptions create_default() { return {}; }
};

struct ReplyErrOptions {
  std::optional<Encoding> encoding;
  static ReplyErrOptions create_default() { return {}; }
};

class Publisher {
 public:
  Publisher(Publisher&& other) noexcept;
  Publisher& operator=(Publisher&& other) noexcept;
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;
  // Undeclares the publisher.
  ~Publisher();

  // Throws ZException "Failed to perform put operation" when zenoh refuses the put.
  void put(std::span<const uint8_t> payload,
           PutOptions&& options = PutOptions::create_default()) const;
  // The same with only an encoding: nothing to build per call on a hot path.
  void put(std::span<const uint8_t> payload, const Encoding& encoding) const;

 private:
  friend class Session;
  explicit Publisher(::korvo_publisher_t* handle) : handle_(handle) {}
  ::korvo_publisher_t* handle_ = nullptr;
};

// zenoh-cpp's Subscriber<void> / Queryable<void>: entities whose data go to callbacks.
template <class Handler = void>
class Subscriber;
template <class Handler = void>
class Queryable;

template <>
class Subscriber<void> {
 public:
  Subscriber(Subscriber&& other) noexcept;
  Subscriber& operator=(Subscriber&& other) noexcept;
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;
  // Undeclares the subscriber and waits until no call of its callback is running: never destroy
  // it inside its own callback, nor while holding a lock that the callback takes.
  ~Subscriber();

 private:
  friend class Session;
  Subscriber(::korvo_subscriber_t* handle, const void* handler)
      : handle_(handle), handler_(handler) {}
  ::korvo_subscriber_t* handle_ = nullptr;
  const void* handler_ = nullptr;  // the callback's state, as a key for ThreadSanitizer only
};

// A query received by a queryable. Owned and move-only: keep it (move it out of the callback) to
// reply later, from any thread. The query's final response goes out when the last Query object
// holding it is destroyed.
class Query {
 public:
  explicit Query(::korvo_query_t* handle) : handle_(handle) {}
  Query(Query&& other) noexcept;
  Query& operator=(Query&& other) noexcept;
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  ~Query();

  std::string_view get_keyexpr() const;
  std::string_view get_parameters() const;
  // None when the query carries no payload.
  std::optional<std::span<const uint8_t>> get_payload() const;
  std::optional<std::string_view> get_encoding() const;

  // Replies with a sample on `key_expr` / on the query's own key expression. Throws ZException
  // "Failed to send reply".
  void reply(const KeyExpr& key_expr, std::span<const uint8_t> payload,
             ReplyOptions&& options = ReplyOptions::create_default()) const;
  void reply(std::span<const uint8_t> payload,
             ReplyOptions&& options = ReplyOptions::create_default()) const;
  // Replies with an error. Throws ZException "Failed to send reply error".
  void reply_err(std::span<const uint8_t> payload,
                 ReplyErrOptions&& options = ReplyErrOptions::create_default()) const;

  bool has_value() const { return handle_ != nullptr; }

 private:
  ::korvo_query_t* handle_ = nullptr;
};

template <>
class Queryable<void> {
 public:
  Queryable(Queryable&& other) noexcept;
  Queryable& operator=(Queryable&& other) noexcept;
  Queryable(const Queryable&) = delete;
  Queryable& operator=(const Queryable&) = delete;
  // Undeclares the queryable and waits until no call of its callback is running (same rules as
  // ~Subscriber). Queries already moved out stay valid.
  ~Queryable();

 private:
  friend class Session;
  Queryable(::korvo_queryable_t* handle, const void* handler)
      : handle_(handle), handler_(handler) {}
  ::korvo_queryable_t* handle_ = nullptr;
  const void* handler_ = nullptr;  // the callback's state, as a key for ThreadSanitizer only
};

class Session {
 public:
  struct SessionOptions {
    static SessionOptions create_default() { return {}; }
  };

  // Throws ZException "Failed to open session".
  explicit Session(Config&& config, SessionOptions&& options = SessionOptions::create_default());
  static Session open(Config&& config, SessionOptions&& options = SessionOptions::create_default());

  Session(Session&& other) noexcept;
  Session& operator=(Session&& other) noexcept;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // Closes the session if it is still open. Never from a callback, never after main returns.
  ~Session();

  // Closes the session: its subscribers and queryables stop and their drop callbacks run.
  // Throws ZException "Failed to close the session".
  void close();

  // Throws ZException "Failed to declare Publisher".
  Publisher declare_publisher(
      const KeyExpr& key_expr,
      PublisherOptions&& options = PublisherOptions::create_default()) const;

  // on_sample runs for every sample; on_drop once, after the last call (when the subscriber is
  // destroyed or the session closes). Throws ZException "Failed to declare Subscriber" (on_drop
  // has then already run).
  Subscriber<void> declare_subscriber(
      const KeyExpr& key_expr, std::function<void(const Sample&)> on_sample,
      std::function<void()> on_drop,
      SubscriberOptions&& options = SubscriberOptions::create_default()) const;

  // Issues a query. on_reply runs for every reply (an error reply for zenoh's time-out too);
  // on_drop exactly once, after the last reply, when the query is over. Throws ZException
  // "Failed to perform get operation" when the query cannot be issued; on_drop has then already
  // run on the calling thread.
  void get(const KeyExpr& key_expr, std::string_view parameters,
           std::function<void(const Reply&)> on_reply, std::function<void()> on_drop,
           GetOptions&& options = GetOptions::create_default()) const;

  // The bridge's handle, for code that calls the C functions directly (benchmarks).
  const ::korvo_session_t* c_handle() const { return handle_; }

  // on_query receives each query as an owned Query that it may move out to reply later.
  // Throws ZException "Failed to declare Queryable" (on_drop has then already run).
  Queryable<void> declare_queryable(
      const KeyExpr& key_expr, std::function<void(Query&)> on_query, std::function<void()> on_drop,
      QueryableOptions&& options = QueryableOptions::create_default()) const;

 private:
  ::korvo_session_t* handle_ = nullptr;
};

}  // namespace zenoh
