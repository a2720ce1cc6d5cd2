#include "middleware/zenoh.hpp"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define KORVO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVO_TSAN 1
#endif
#endif
#ifdef KORVO_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace zenoh {
namespace {

// ThreadSanitizer sees none of the synchronization inside zenoh (Rust, not instrumented). Our
// callbacks rely on three orderings that the bridge promises: whatever the declaring thread did
// before a declaration or a get happens before every call of its callback; every call happens
// before the closure's drop; and every call has returned when undeclaring its entity returns.
// These functions mark them; they compile to nothing outside ThreadSanitizer builds.
void HappensBefore([[maybe_unused]] const void* key) noexcept {
#ifdef KORVO_TSAN
  __tsan_release(const_cast<void*>(key));
#endif
}

void HappensAfter([[maybe_unused]] const void* key) noexcept {
#ifdef KORVO_TSAN
  __tsan_acquire(const_cast<void*>(key));
#endif
}

// The key of "every call has returned" for the handler at `handler`. The closure's drop, which
// frees the handler, may still run on zenoh's thread after the undeclaration returned, so the
// key lives outside the handler: one of a few static slots, picked by the handler's address
// (entities that share a slot are only ordered more than zenoh orders them).
const void* ReturnedKey(const void* handler) noexcept {
  static char slots[64];
  return &slots[(reinterpret_cast<std::uintptr_t>(handler) >> 4) % sizeof slots];
}

std::string LastError() {
  const char* text = ::korvo_zenoh_last_error();
  return text != nullptr ? std::string(text) : std::string();
}

void Check(ZResult code, const std::string& message) {
  if (code < 0) throw ZException(message, code, LastError());
}

// A non-null pointer for an empty span: the bridge reads NULL with a length of 0 as "empty" too,
// but a query payload that is present must not be NULL.
const uint8_t* DataOf(std::span<const uint8_t> bytes) {
  static const uint8_t kEmpty = 0;
  return bytes.data() != nullptr ? bytes.data() : &kEmpty;
}

const char* EncodingOf(const std::optional<Encoding>& encoding) {
  return encoding ? encoding->as_string().c_str() : nullptr;
}

// Callback state owned by a C closure; deleted by the closure's drop, which zenoh runs exactly
// once after the last call. No exception leaves a function that zenoh calls.
// `call` is also the key of the ordering from the declaration to each call, `drop` that of the
// ordering from each call to the drop: calls that zenoh may run concurrently stay unordered
// among themselves.
template <class Arg>
struct Handler {
  std::function<void(Arg)> call;
  std::function<void()> drop;
};

// Runs a handler's callback on zenoh's thread within the orderings described above.
template <class Arg, class H>
void CallHandler(H& handler, Arg arg) noexcept {
  HappensAfter(&handler.call);
  try {
    handler.call(arg);
  } catch (...) {
  }
  HappensBefore(&handler.drop);
  HappensBefore(ReturnedKey(&handler));
}

// Takes back the ownership that ReleaseToClosure handed to the C closure.
template <class H>
void DropHandler(H* raw) noexcept {
  HappensAfter(&raw->call);  // a drop without any call (a query that got no reply)
  HappensAfter(&raw->drop);
  const std::unique_ptr<H> handler(raw);
  try {
    if (handler->drop) handler->drop();
  } catch (...) {
  }
}

// Hands a new handler to a C closure, whose drop function frees it.
template <class H, class Call>
H* ReleaseToClosure(Call&& call, std::function<void()>&& drop) {
  H* handler = std::make_unique<H>(H{std::forward<Call>(call), std::move(drop)}).release();
  HappensBefore(&handler->call);
  return handler;
}

using SampleHandler = Handler<const Sample&>;
using ReplyHandler = Handler<const Reply&>;
using QueryHandler = Handler<Query&>;

void CallSample(const ::korvo_sample_view_t* view, void* context) noexcept {
  const Sample sample({view->payload, view->payload_len}, {view->keyexpr, view->keyexpr_len},
                      {view->encoding, view->encoding_len}, view->kind);
  CallHandler<const Sample&>(*static_cast<SampleHandler*>(context), sample);
}

void DropSample(void* context) noexcept { DropHandler(static_cast<SampleHandler*>(context)); }

void CallReply(const ::korvo_reply_view_t* view, void* context) noexcept {
  const std::span<const uint8_t> payload(view->payload, view->payload_len);
  const std::string_view encoding(view->encoding, view->encoding_len);
  const Reply reply = view->is_ok ? Reply(Sample(payload, {view->keyexpr, view->keyexpr_len},
                                                 encoding, KORVO_SAMPLE_KIND_PUT))
                                  : Reply(ReplyError(payload, encoding));
  CallHandler<const Reply&>(*static_cast<ReplyHandler*>(context), reply);
}

void DropReply(void* context) noexcept { DropHandler(static_cast<ReplyHandler*>(context)); }

void CallQuery(::korvo_query_t* handle, void* context) noexcept {
  // Owned from here on: dropped at the end of this call unless the callback moved it out.
  Query query(handle);
  CallHandler<Query&>(*static_cast<QueryHandler*>(context), query);
}

void DropQuery(void* context) noexcept { DropHandler(static_cast<QueryHandler*>(context)); }

template <class T>
T* Exchange(T*& handle) noexcept {
  return std::exchange(handle, nullptr);
}

void DropSubscriber(::korvo_subscriber_t* handle, const void* handler) noexcept {
  if (handle == nullptr) return;
  ::korvo_subscriber_drop(handle);
  HappensAfter(ReturnedKey(handler));
}

void DropQueryable(::korvo_queryable_t* handle, const void* handler) noexcept {
  if (handle == nullptr) return;
  ::korvo_queryable_drop(handle);
  HappensAfter(ReturnedKey(handler));
}

}  // namespace

// ---- ZException ------------------------------------------------------------------------------

ZException::ZException(const std::string& message, ZResult err, std::string detail)
    : std::runtime_error(message + "(Error code: " + std::to_string(err) + " )"),
      e(err),
      detail_(std::move(detail)) {}

void try_init_log_from_env() { ::korvo_zenoh_try_init_log_from_env(); }

// ---- Config ----------------------------------------------------------------------------------

Config Config::create_default() {
  const char* path = std::getenv("ZENOH_CONFIG");
  ::korvo_config_t* handle = nullptr;
  if (path != nullptr && *path != '\0') {
    const ZResult code = ::korvo_config_from_file(&handle, path);
    if (code < 0) {
      const std::string detail = LastError();
      throw ZException(std::string("Failed to create default configuration from ZENOH_CONFIG file ")
                           .append(path)
                           .append(": ")
                           .append(detail),
                       code, detail);
    }
  } else {
    Check(::korvo_config_default(&handle), "Failed to create default configuration");
  }
  return Config(handle);
}

Config Config::from_file(const std::string& path) {
  ::korvo_config_t* handle = nullptr;
  const ZResult code = ::korvo_config_from_file(&handle, path.c_str());
  if (code < 0) {
    const std::string detail = LastError();
    throw ZException("Failed to create config from: " + path + ": " + detail, code, detail);
  }
  return Config(handle);
}

Config Config::from_str(const std::string& s) {
  ::korvo_config_t* handle = nullptr;
  const ZResult code = ::korvo_config_from_str(&handle, s.data(), s.size());
  if (code < 0) {
    const std::string detail = LastError();
    throw ZException("Failed to create config from string: " + detail, code, detail);
  }
  return Config(handle);
}

Config::Config(Config&& other) noexcept : handle_(Exchange(other.handle_)) {}

Config& Config::operator=(Config&& other) noexcept {
  if (this != &other) {
    ::korvo_config_drop(handle_);
    handle_ = Exchange(other.handle_);
  }
  return *this;
}

Config::~Config() { ::korvo_config_drop(handle_); }

::korvo_config_t* Config::take() noexcept { return Exchange(handle_); }

// ---- KeyExpr ---------------------------------------------------------------------------------

KeyExpr::KeyExpr(std::string_view key_expr, bool autocanonize) {
  const ZResult code =
      ::korvo_keyexpr_from_substr_autocanonize(&handle_, key_expr.data(), key_expr.size());
  // Without canonization the text must already be canonical: compare with the canonized form.
  if (code == KORVO_OK && !autocanonize && as_string_view() != key_expr) {
    ::korvo_keyexpr_drop(Exchange(handle_));
    throw ZException("Failed to construct KeyExpr from: " + std::string(key_expr), KORVO_EINVAL,
                     "not a canonical key expression");
  }
  Check(code, "Failed to construct KeyExpr from: " + std::string(key_expr));
}

KeyExpr::KeyExpr(KeyExpr&& other) noexcept : handle_(Exchange(other.handle_)) {}

KeyExpr& KeyExpr::operator=(KeyExpr&& other) noexcept {
  if (this != &other) {
    ::korvo_keyexpr_drop(handle_);
    handle_ = Exchange(other.handle_);
  }
  return *this;
}

KeyExpr::~KeyExpr() { ::korvo_keyexpr_drop(handle_); }

std::string_view KeyExpr::as_string_view() const {
  const char* data = nullptr;
  size_t len = 0;
  ::korvo_keyexpr_as_str(handle_, &data, &len);
  return {data, len};
}

// ---- Reply -----------------------------------------------------------------------------------

const Sample& Reply::get_ok() const {
  if (!is_ok_) throw ZException("Reply data sample was requested, but reply contains error", -1);
  return ok_;
}

const ReplyError& Reply::get_err() const {
  if (is_ok_) throw ZException("Reply error was requested, but reply contains data sample", -1);
  return err_;
}

// ---- Publisher -------------------------------------------------------------------------------

Publisher::Publisher(Publisher&& other) noexcept : handle_(Exchange(other.handle_)) {}

Publisher& Publisher::operator=(Publisher&& other) noexcept {
  if (this != &other) {
    ::korvo_publisher_drop(handle_);
    handle_ = Exchange(other.handle_);
  }
  return *this;
}

Publisher::~Publisher() { ::korvo_publisher_drop(handle_); }

void Publisher::put(std::span<const uint8_t> payload, PutOptions&& options) const {
  Check(
      ::korvo_publisher_put(handle_, payload.data(), payload.size(), EncodingOf(options.encoding)),
      "Failed to perform put operation");
}

void Publisher::put(std::span<const uint8_t> payload, const Encoding& encoding) const {
  Check(
      ::korvo_publisher_put(handle_, payload.data(), payload.size(), encoding.as_string().c_str()),
      "Failed to perform put operation");
}

// ---- Subscriber ------------------------------------------------------------------------------

Subscriber<void>::Subscriber(Subscriber&& other) noexcept
    : handle_(Exchange(other.handle_)), handler_(std::exchange(other.handler_, nullptr)) {}

Subscriber<void>& Subscriber<void>::operator=(Subscriber&& other) noexcept {
  if (this != &other) {
    DropSubscriber(handle_, handler_);
    handle_ = Exchange(other.handle_);
    handler_ = std::exchange(other.handler_, nullptr);
  }
  return *this;
}

Subscriber<void>::~Subscriber() { DropSubscriber(handle_, handler_); }

// ---- Query -----------------------------------------------------------------------------------

Query::Query(Query&& other) noexcept : handle_(Exchange(other.handle_)) {}

Query& Query::operator=(Query&& other) noexcept {
  if (this != &other) {
    ::korvo_query_drop(handle_);
    handle_ = Exchange(other.handle_);
  }
  return *this;
}

Query::~Query() { ::korvo_query_drop(handle_); }

std::string_view Query::get_keyexpr() const {
  const char* data = nullptr;
  size_t len = 0;
  ::korvo_query_keyexpr(handle_, &data, &len);
  return {data, len};
}

std::string_view Query::get_parameters() const {
  const char* data = nullptr;
  size_t len = 0;
  ::korvo_query_parameters(handle_, &data, &len);
  return {data, len};
}

std::optional<std::span<const uint8_t>> Query::get_payload() const {
  const uint8_t* data = nullptr;
  size_t len = 0;
  if (!::korvo_query_payload(handle_, &data, &len)) return std::nullopt;
  return std::span<const uint8_t>(data, len);
}

std::optional<std::string_view> Query::get_encoding() const {
  const char* data = nullptr;
  size_t len = 0;
  if (!::korvo_query_encoding(handle_, &data, &len)) return std::nullopt;
  return std::string_view(data, len);
}

void Query::reply(const KeyExpr& key_expr, std::span<const uint8_t> payload,
                  ReplyOptions&& options) const {
  Check(::korvo_query_reply(handle_, key_expr.handle(), payload.data(), payload.size(),
                            EncodingOf(options.encoding)),
        "Failed to send reply");
}

void Query::reply(std::span<const uint8_t> payload, ReplyOptions&& options) const {
  Check(::korvo_query_reply(handle_, nullptr, payload.data(), payload.size(),
                            EncodingOf(options.encoding)),
        "Failed to send reply");
}

void Query::reply_err(std::span<const uint8_t> payload, ReplyErrOptions&& options) const {
  Check(::korvo_query_reply_err(handle_, payload.data(), payload.size(),
                                EncodingOf(options.encoding)),
        "Failed to send reply error");
}

// ---- Queryable -------------------------------------------------------------------------------

Queryable<void>::Queryable(Queryable&& other) noexcept
    : handle_(Exchange(other.handle_)), handler_(std::exchange(other.handler_, nullptr)) {}

Queryable<void>& Queryable<void>::operator=(Queryable&& other) noexcept {
  if (this != &other) {
    DropQueryable(handle_, handler_);
    handle_ = Exchange(other.handle_);
    handler_ = std::exchange(other.handler_, nullptr);
  }
  return *this;
}

Queryable<void>::~Queryable() { DropQueryable(handle_, handler_); }

// ---- Session ---------------------------------------------------------------------------------

Session::Session(Config&& config, SessionOptions&&) {
  // zenoh's own log output, when RUST_LOG asks for it (installed once per process).
  try_init_log_from_env();
  Check(::korvo_session_open(&handle_, config.take()), "Failed to open session");
}

Session Session::open(Config&& config, SessionOptions&& options) {
  return Session(std::move(config), std::move(options));
}

Session::Session(Session&& other) noexcept : handle_(Exchange(other.handle_)) {}

Session& Session::operator=(Session&& other) noexcept {
  if (this != &other) {
    ::korvo_session_drop(handle_);
    handle_ = Exchange(other.handle_);
  }
  return *this;
}

Session::~Session() { ::korvo_session_drop(handle_); }

void Session::close() { Check(::korvo_session_close(handle_), "Failed to close the session"); }

Publisher Session::declare_publisher(const KeyExpr& key_expr, PublisherOptions&& options) const {
  ::korvo_publisher_options_t c_options;
  ::korvo_publisher_options_default(&c_options);
  c_options.congestion_control = options.congestion_control;
  c_options.priority = options.priority;
  c_options.is_express = options.is_express;
  c_options.reliability = options.reliability;
  c_options.allowed_destination = options.allowed_destination;
  ::korvo_publisher_t* handle = nullptr;
  Check(::korvo_declare_publisher(handle_, &handle, key_expr.handle(), &c_options),
        "Failed to declare Publisher");
  return Publisher(handle);
}

Subscriber<void> Session::declare_subscriber(const KeyExpr& key_expr,
                                             std::function<void(const Sample&)> on_sample,
                                             std::function<void()> on_drop,
                                             SubscriberOptions&& options) const {
  ::korvo_subscriber_options_t c_options;
  ::korvo_subscriber_options_default(&c_options);
  c_options.allowed_origin = options.allowed_origin;
  // From here on the closure owns the handler: the bridge's drop deletes it, also on failure.
  auto* handler = ReleaseToClosure<SampleHandler>(std::move(on_sample), std::move(on_drop));
  ::korvo_subscriber_t* handle = nullptr;
  Check(::korvo_declare_subscriber(handle_, &handle, key_expr.handle(),
                                   {handler, &CallSample, &DropSample}, &c_options),
        "Failed to declare Subscriber");
  return Subscriber<void>(handle, handler);
}

void Session::get(const KeyExpr& key_expr, std::string_view parameters,
                  std::function<void(const Reply&)> on_reply, std::function<void()> on_drop,
                  GetOptions&& options) const {
  ::korvo_get_options_t c_options;
  ::korvo_get_options_default(&c_options);
  c_options.target = options.target;
  c_options.consolidation = options.consolidation.mode;
  c_options.congestion_control = options.congestion_control;
  c_options.priority = options.priority;
  c_options.is_express = options.is_express;
  c_options.allowed_destination = options.allowed_destination;
  c_options.timeout_ms = options.timeout_ms;
  if (options.payload) {
    c_options.payload = DataOf(*options.payload);
    c_options.payload_len = options.payload->size();
    c_options.encoding = EncodingOf(options.encoding);
  }
  auto* handler = ReleaseToClosure<ReplyHandler>(std::move(on_reply), std::move(on_drop));
  Check(::korvo_get(handle_, key_expr.handle(), parameters.data(), parameters.size(),
                    {handler, &CallReply, &DropReply}, &c_options),
        "Failed to perform get operation");
}

Queryable<void> Session::declare_queryable(const KeyExpr& key_expr,
                                           std::function<void(Query&)> on_query,
                                           std::function<void()> on_drop,
                                           QueryableOptions&& options) const {
  ::korvo_queryable_options_t c_options;
  ::korvo_queryable_options_default(&c_options);
  c_options.complete = options.complete;
  c_options.allowed_origin = options.allowed_origin;
  auto* handler = ReleaseToClosure<QueryHandler>(std::move(on_query), std::move(on_drop));
  ::korvo_queryable_t* handle = nullptr;
  Check(::korvo_declare_queryable(handle_, &handle, key_expr.handle(),
                                  {handler, &CallQuery, &DropQuery}, &c_options),
        "Failed to declare Queryable");
  return Queryable<void>(handle, handler);
}

}  // namespace zenoh
