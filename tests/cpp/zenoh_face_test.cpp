// The zenoh C++ face over our bridge crate, against real zenoh on loopback: two sessions in one
// process (one listens on tcp/127.0.0.1:FREE_PORT, the other connects), never the default
// configuration.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "loopback.hpp"
#include "middleware/zenoh.hpp"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

constexpr auto kGenerous = 20s;  // never reached when things work

Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes ToBytes(std::span<const uint8_t> s) { return Bytes(s.begin(), s.end()); }

// What the callbacks of one entity or query saw, shared with the zenoh threads.
struct Recorder {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Bytes> payloads;
  std::vector<std::string> keys;
  std::vector<std::string> encodings;
  std::vector<Bytes> errors;
  int drops = 0;
  bool reply_after_drop = false;

  template <class Pred>
  bool WaitFor(Pred pred, std::chrono::steady_clock::duration timeout = kGenerous) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, timeout, [&] { return pred(*this); });
  }
  void OnSample(const zenoh::Sample& sample) {
    std::lock_guard lock(mutex);
    payloads.push_back(ToBytes(sample.get_payload()));
    keys.emplace_back(sample.get_keyexpr());
    encodings.emplace_back(sample.get_encoding());
    cv.notify_all();
  }
  void OnReply(const zenoh::Reply& reply) {
    std::lock_guard lock(mutex);
    if (drops > 0) reply_after_drop = true;
    if (reply.is_ok()) {
      payloads.push_back(ToBytes(reply.get_ok().get_payload()));
      keys.emplace_back(reply.get_ok().get_keyexpr());
      encodings.emplace_back(reply.get_ok().get_encoding());
    } else {
      errors.push_back(ToBytes(reply.get_err().get_payload()));
    }
    cv.notify_all();
  }
  void OnDrop() {
    std::lock_guard lock(mutex);
    ++drops;
    cv.notify_all();
  }
};

// Issues a query and waits until it is over (its drop ran); returns what it saw.
std::shared_ptr<Recorder> GetAndWait(const zenoh::Session& session, const std::string& key,
                                     std::string_view parameters, const Bytes& payload,
                                     uint64_t timeout_ms = 5000) {
  auto rec = std::make_shared<Recorder>();
  auto options = zenoh::GetOptions::create_default();
  options.payload = std::span<const uint8_t>(payload);
  options.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
  options.timeout_ms = timeout_ms;
  session.get(
      zenoh::KeyExpr(key), parameters, [rec](const zenoh::Reply& r) { rec->OnReply(r); },
      [rec] { rec->OnDrop(); }, std::move(options));
  EXPECT_TRUE(rec->WaitFor([](Recorder& r) { return r.drops > 0; }));
  return rec;
}

// Retries a query until it gets a reply: right after connecting, a remote queryable may not be
// known yet, and a query then finishes at once with no reply.
std::shared_ptr<Recorder> GetUntilReplied(const zenoh::Session& session, const std::string& key,
                                          std::string_view parameters, const Bytes& payload) {
  const auto deadline = std::chrono::steady_clock::now() + kGenerous;
  std::shared_ptr<Recorder> rec;
  do {
    rec = GetAndWait(session, key, parameters, payload);
    {
      std::lock_guard lock(rec->mutex);
      if (!rec->payloads.empty() || !rec->errors.empty()) break;
    }
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return rec;
}

class ZenohFaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    port_ = korvo::test::FreeTcpPort();
    listener_ = std::make_unique<zenoh::Session>(
        zenoh::Session::open(zenoh::Config::from_str(korvo::test::ListenerConfig(port_))));
    connector_ = std::make_unique<zenoh::Session>(
        zenoh::Session::open(zenoh::Config::from_str(korvo::test::ConnectorConfig(port_))));
  }
  static void TearDownTestSuite() {
    // Closed explicitly, before main returns (zenoh must not run during process exit).
    if (connector_) connector_->close();
    if (listener_) listener_->close();
    connector_.reset();
    listener_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(listener_ && connector_) << "the loopback pair did not open";
  }
  // A key of its own for each test, so that tests cannot see each other's traffic.
  static std::string Key(const std::string& leaf) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return "korvo/test/face/" + std::string(info->name()) + "/" + leaf;
  }

  static inline int port_ = 0;
  static inline std::unique_ptr<zenoh::Session> listener_;
  static inline std::unique_ptr<zenoh::Session> connector_;
};

TEST_F(ZenohFaceTest, PublisherReachesSubscriberOfTheOtherSession) {
  auto rec = std::make_shared<Recorder>();
  const std::string key = Key("data");
  auto subscriber = connector_->declare_subscriber(
      zenoh::KeyExpr(key), [rec](const zenoh::Sample& s) { rec->OnSample(s); },
      [rec] { rec->OnDrop(); });

  auto options = zenoh::PublisherOptions::create_default();
  options.congestion_control = KORVO_CONGESTION_CONTROL_BLOCK;
  options.priority = KORVO_PRIORITY_DATA;
  options.reliability = KORVO_RELIABILITY_RELIABLE;
  auto publisher = listener_->declare_publisher(zenoh::KeyExpr(key), std::move(options));

  const Bytes sent = {0x00, 0x01, 0xfe, 0xff, 0x7f, 0x80};
  // The remote subscriber may not be known right after connecting: put until it receives.
  const auto deadline = std::chrono::steady_clock::now() + kGenerous;
  bool received = false;
  while (!received && std::chrono::steady_clock::now() < deadline) {
    auto put = zenoh::PutOptions::create_default();
    put.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
    publisher.put(sent, std::move(put));
    received = rec->WaitFor([](Recorder& r) { return !r.payloads.empty(); }, 100ms);
  }
  ASSERT_TRUE(received);
  {
    std::lock_guard lock(rec->mutex);
    EXPECT_EQ(rec->payloads.front(), sent);
    EXPECT_EQ(rec->keys.front(), key);
    EXPECT_EQ(rec->encodings.front(), "zenoh/serialized");
    EXPECT_EQ(rec->drops, 0);
  }
  { auto gone = std::move(subscriber); }
  std::lock_guard lock(rec->mutex);
  EXPECT_EQ(rec->drops, 1);
}

TEST_F(ZenohFaceTest, PublisherWithRealTimeBestEffortOptionsPuts) {
  auto options = zenoh::PublisherOptions::create_default();
  options.congestion_control = KORVO_CONGESTION_CONTROL_DROP;
  options.priority = KORVO_PRIORITY_REAL_TIME;
  options.reliability = KORVO_RELIABILITY_BEST_EFFORT;
  options.is_express = true;
  auto publisher = connector_->declare_publisher(zenoh::KeyExpr(Key("rt")), std::move(options));
  EXPECT_NO_THROW(publisher.put(ToBytes("x")));
  EXPECT_NO_THROW(publisher.put({}));
}

TEST_F(ZenohFaceTest, QueryAcrossSessionsReturnsTheRepliedBytes) {
  const std::string key = Key("rpc");
  struct Seen {
    std::mutex mutex;
    std::optional<Bytes> payload;
    std::string keyexpr, parameters, encoding;
  };
  auto seen = std::make_shared<Seen>();
  auto queryable = listener_->declare_queryable(
      zenoh::KeyExpr(key),
      [seen](zenoh::Query& query) {
        {
          std::lock_guard lock(seen->mutex);
          if (auto p = query.get_payload()) seen->payload = ToBytes(*p);
          seen->keyexpr = query.get_keyexpr();
          seen->parameters = query.get_parameters();
          seen->encoding = query.get_encoding().value_or("");
        }
        Bytes answer = ToBytes(*query.get_payload());
        answer.push_back(0x42);
        auto options = zenoh::ReplyOptions::create_default();
        options.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
        query.reply(answer, std::move(options));
      },
      zenoh::closures::none);

  const Bytes request = {1, 2, 3};
  auto rec = GetUntilReplied(*connector_, key, "a=1;b=2", request);
  std::lock_guard lock(rec->mutex);
  ASSERT_EQ(rec->payloads.size(), 1u);
  EXPECT_EQ(rec->payloads.front(), (Bytes{1, 2, 3, 0x42}));
  EXPECT_EQ(rec->keys.front(), key);
  EXPECT_EQ(rec->encodings.front(), "zenoh/serialized");
  EXPECT_TRUE(rec->errors.empty());
  EXPECT_EQ(rec->drops, 1);
  EXPECT_FALSE(rec->reply_after_drop);
  std::lock_guard seen_lock(seen->mutex);
  EXPECT_EQ(seen->payload, request);
  EXPECT_EQ(seen->keyexpr, key);
  EXPECT_EQ(seen->parameters, "a=1;b=2");
  EXPECT_EQ(seen->encoding, "zenoh/serialized");
}

TEST_F(ZenohFaceTest, ErrorReplyArrivesAsAnError) {
  const std::string key = Key("rpc");
  auto queryable = listener_->declare_queryable(
      zenoh::KeyExpr(key), [](zenoh::Query& query) { query.reply_err(ToBytes("refused")); },
      zenoh::closures::none);
  auto rec = GetUntilReplied(*connector_, key, "", {});
  std::lock_guard lock(rec->mutex);
  EXPECT_TRUE(rec->payloads.empty());
  ASSERT_EQ(rec->errors.size(), 1u);
  EXPECT_EQ(rec->errors.front(), ToBytes("refused"));
  EXPECT_EQ(rec->drops, 1);
}

TEST_F(ZenohFaceTest, QueryKeptBeyondTheCallbackIsRepliedFromAnotherThread) {
  const std::string key = Key("rpc");
  std::mutex mutex;
  std::vector<std::thread> repliers;
  auto queryable = listener_->declare_queryable(
      zenoh::KeyExpr(key),
      [&](zenoh::Query& query) {
        std::lock_guard lock(mutex);
        repliers.emplace_back([q = std::move(query)]() mutable {
          std::this_thread::sleep_for(50ms);
          q.reply(ToBytes("late"));
          q = zenoh::Query(nullptr);  // dropping it sends the final response
          std::this_thread::sleep_for(50ms);
        });
      },
      zenoh::closures::none);
  auto rec = GetUntilReplied(*connector_, key, "", {});
  {
    std::lock_guard lock(rec->mutex);
    ASSERT_EQ(rec->payloads.size(), 1u);
    EXPECT_EQ(rec->payloads.front(), ToBytes("late"));
    EXPECT_TRUE(rec->errors.empty());
  }
  std::lock_guard lock(mutex);
  for (auto& t : repliers) t.join();
}

TEST_F(ZenohFaceTest, QueryWithoutQueryableFinishesWithoutReply) {
  // A time-out would show as a "Timeout" error reply: none must arrive.
  auto rec = GetAndWait(*connector_, Key("nobody"), "", ToBytes("?"), 5000);
  std::lock_guard lock(rec->mutex);
  EXPECT_EQ(rec->drops, 1);
  EXPECT_TRUE(rec->payloads.empty());
  EXPECT_TRUE(rec->errors.empty());
}

TEST_F(ZenohFaceTest, QueryTimeOutDeliversTimeoutErrorThenFinishes) {
  const std::string key = Key("slow");
  std::mutex mutex;
  std::vector<zenoh::Query> held;  // never answered while the query runs
  auto queryable = listener_->declare_queryable(
      zenoh::KeyExpr(key),
      [&](zenoh::Query& query) {
        std::lock_guard lock(mutex);
        held.push_back(std::move(query));
      },
      zenoh::closures::none);
  // Until the queryable is known, the query finishes with no reply; then it times out.
  const auto deadline = std::chrono::steady_clock::now() + kGenerous;
  std::shared_ptr<Recorder> rec;
  do {
    rec = GetAndWait(*connector_, key, "", {}, 300);
  } while (rec->errors.empty() && std::chrono::steady_clock::now() < deadline);
  {
    std::lock_guard lock(rec->mutex);
    ASSERT_EQ(rec->errors.size(), 1u);
    EXPECT_EQ(rec->errors.front(), ToBytes("Timeout"));
    EXPECT_EQ(rec->drops, 1);
    EXPECT_FALSE(rec->reply_after_drop);
  }
  std::lock_guard lock(mutex);
  held.clear();
}

TEST_F(ZenohFaceTest, ExceptionInCallbackStaysInTheCallback) {
  const std::string key = Key("rpc");
  auto queryable = listener_->declare_queryable(
      zenoh::KeyExpr(key),
      [](zenoh::Query& query) {
        query.reply(ToBytes("ok"));
        throw std::runtime_error("thrown inside a zenoh callback");
      },
      [] { throw std::runtime_error("thrown inside a drop callback"); });
  auto rec = std::make_shared<Recorder>();
  const auto deadline = std::chrono::steady_clock::now() + kGenerous;
  do {
    rec = std::make_shared<Recorder>();
    connector_->get(
        zenoh::KeyExpr(key), "",
        [rec](const zenoh::Reply& r) {
          rec->OnReply(r);
          throw std::runtime_error("thrown inside a reply callback");
        },
        [rec] { rec->OnDrop(); });
    ASSERT_TRUE(rec->WaitFor([](Recorder& r) { return r.drops > 0; }));
  } while (rec->payloads.empty() && std::chrono::steady_clock::now() < deadline);
  std::lock_guard lock(rec->mutex);
  EXPECT_EQ(rec->payloads.size(), 1u);
}

TEST_F(ZenohFaceTest, OperationsOnClosedSessionThrowAfterTheirDropRan) {
  const int port = korvo::test::FreeTcpPort();
  zenoh::Session session(zenoh::Config::from_str(korvo::test::ListenerConfig(port)));
  auto sub_rec = std::make_shared<Recorder>();
  auto subscriber = session.declare_subscriber(
      zenoh::KeyExpr(Key("x")), [sub_rec](const zenoh::Sample& s) { sub_rec->OnSample(s); },
      [sub_rec] { sub_rec->OnDrop(); });
  auto publisher = session.declare_publisher(zenoh::KeyExpr(Key("x")));
  session.close();
  try {
    publisher.put(ToBytes("late"));
    ADD_FAILURE() << "put on a closed session did not throw";
  } catch (const zenoh::ZException& e) {
    EXPECT_THAT(e.what(), HasSubstr("Failed to perform put operation(Error code: "));
  }
  {
    std::lock_guard lock(sub_rec->mutex);
    EXPECT_EQ(sub_rec->drops, 1);  // closing the session released the subscriber's callbacks
  }
  int drops = 0;
  try {
    session.get(
        zenoh::KeyExpr(Key("x")), "", [](const zenoh::Reply&) {}, [&] { ++drops; });
    ADD_FAILURE() << "get on a closed session did not throw";
  } catch (const zenoh::ZException& e) {
    EXPECT_THAT(e.what(), HasSubstr("Failed to perform get operation(Error code: "));
    EXPECT_LT(e.e, 0);
  }
  EXPECT_EQ(drops, 1);
  drops = 0;
  EXPECT_THROW(session.declare_subscriber(
                   zenoh::KeyExpr(Key("y")), [](const zenoh::Sample&) {}, [&] { ++drops; }),
               zenoh::ZException);
  EXPECT_EQ(drops, 1);
  drops = 0;
  EXPECT_THROW(session.declare_queryable(
                   zenoh::KeyExpr(Key("y")), [](zenoh::Query&) {}, [&] { ++drops; }),
               zenoh::ZException);
  EXPECT_EQ(drops, 1);
  EXPECT_NO_THROW(session.close());  // closing twice does nothing
  // The subscriber outlives the closed session; destroying it is harmless.
}

TEST_F(ZenohFaceTest, ListenerOnAPortInUseFailsToOpen) {
  try {
    zenoh::Session session(zenoh::Config::from_str(korvo::test::ListenerConfig(port_)));
    session.close();
    FAIL() << "a second listener on the same port opened";
  } catch (const zenoh::ZException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Failed to open session(Error code: ", 0), 0u);
    EXPECT_FALSE(e.detail().empty());
  }
}

// ---- configuration ---------------------------------------------------------------------------

bool AcceptsTcp(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  ::close(fd);
  return ok;
}

TEST(ZenohConfigTest, ZenohConfigNamingAValidFileIsUsedByDefault) {
  const int port = korvo::test::FreeTcpPort();
  korvo::test::TempFile file(korvo::test::ListenerConfig(port));
  korvo::test::ScopedEnv env("ZENOH_CONFIG", file.path());
  zenoh::Session session(zenoh::Config::create_default());
  EXPECT_TRUE(AcceptsTcp(port));  // it listens where the file says
  session.close();
}

TEST(ZenohConfigTest, ConfigFromFileAcceptsJsonAndYaml) {
  korvo::test::TempFile json(R"({ "mode": "peer" })", ".json");
  EXPECT_NO_THROW(zenoh::Config::from_file(json.path()));
  korvo::test::TempFile yaml("mode: peer\n", ".yaml");
  EXPECT_NO_THROW(zenoh::Config::from_file(yaml.path()));
}

struct BadFileCase {
  const char* name;
  std::optional<std::string> content;  // none: the file does not exist
  std::string suffix;
};

void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.name; }

class ZenohConfigBadFileTest : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(ZenohConfigBadFileTest, ZenohConfigNamingABadFileThrowsNamingTheFile) {
  const BadFileCase& c = GetParam();
  std::optional<korvo::test::TempFile> file;
  std::string path;
  if (c.content) {
    file.emplace(*c.content, c.suffix);
    path = file->path();
  } else {
    path = (std::filesystem::temp_directory_path() / "korvo-test-missing" / ("cfg" + c.suffix))
               .string();
  }
  korvo::test::ScopedEnv env("ZENOH_CONFIG", path);
  try {
    zenoh::Config::create_default();
    FAIL() << "no exception for " << path;
  } catch (const zenoh::ZException& e) {
    EXPECT_THAT(e.what(), HasSubstr(path));
    EXPECT_THAT(e.what(), HasSubstr("ZENOH_CONFIG"));
    EXPECT_LT(e.e, 0);
  }
  try {
    zenoh::Config::from_file(path);
    FAIL() << "no exception for " << path;
  } catch (const zenoh::ZException& e) {
    EXPECT_THAT(e.what(), HasSubstr("Failed to create config from: " + path));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZenohConfigBadFileTest,
    ::testing::Values(BadFileCase{"Missing", std::nullopt, ".json5"},
                      BadFileCase{"NotJson5", "{ mode: ", ".json5"},
                      BadFileCase{"UnknownKey", "{ no_such_key: 1 }", ".json5"},
                      BadFileCase{"Empty", "", ".json5"},
                      BadFileCase{"UnsupportedExtension", "{ mode: \"peer\" }", ".toml"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ZenohConfigTest, EmptyZenohConfigMeansZenohDefault) {
  korvo::test::ScopedEnv env("ZENOH_CONFIG", "");
  EXPECT_NO_THROW(zenoh::Config::create_default());  // not opened: the default scouts
}

TEST(ZenohConfigTest, InvalidConfigTextThrows) {
  try {
    zenoh::Config::from_str("{ mode: 42 }");
    FAIL();
  } catch (const zenoh::ZException& e) {
    EXPECT_THAT(e.what(), HasSubstr("Failed to create config from string: "));
    EXPECT_EQ(e.e, KORVO_EPARSE);
  }
}

// ---- key expressions and the exception -------------------------------------------------------

TEST(ZenohKeyExprTest, KeyExpressionIsCanonized) {
  EXPECT_EQ(zenoh::KeyExpr("korvo/**/**/rpc").as_string_view(), "korvo/**/rpc");
  EXPECT_EQ(zenoh::KeyExpr("korvo/vyr/SN1/rpc").as_string_view(), "korvo/vyr/SN1/rpc");
}

class ZenohInvalidKeyExprTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ZenohInvalidKeyExprTest, InvalidKeyExpressionThrows) {
  try {
    zenoh::KeyExpr key(GetParam());
    FAIL() << "accepted " << GetParam();
  } catch (const zenoh::ZException& e) {
    EXPECT_EQ(std::string(e.what()),
              "Failed to construct KeyExpr from: " + GetParam() + "(Error code: -1 )");
    EXPECT_EQ(e.e, KORVO_EINVAL);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ZenohInvalidKeyExprTest,
                         ::testing::Values("", "korvo/vyr/SN#1", "korvo/vyr?x", "a//b", "/a",
                                           "a/"));

TEST(ZenohKeyExprTest, NonCanonicalTextWithoutAutocanonizeThrows) {
  EXPECT_THROW(zenoh::KeyExpr("a/**/**", false), zenoh::ZException);
  EXPECT_NO_THROW(zenoh::KeyExpr("a/**", false));
}

struct MessageCase {
  std::string text;
  int code;
  std::string what;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.what; }

class ZExceptionFormatTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ZExceptionFormatTest, MessageIsTextThenErrorCode) {
  const MessageCase& c = GetParam();
  const zenoh::ZException e(c.text, static_cast<zenoh::ZResult>(c.code));
  EXPECT_EQ(std::string(e.what()), c.what);
  EXPECT_EQ(e.e, c.code);
  EXPECT_EQ(e.error_code(), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZExceptionFormatTest,
    ::testing::Values(
        MessageCase{"Failed to open session", -128, "Failed to open session(Error code: -128 )"},
        MessageCase{"Incorrect sequence size", -7, "Incorrect sequence size(Error code: -7 )"},
        MessageCase{"Failed to perform put operation", -1,
                    "Failed to perform put operation(Error code: -1 )"},
        MessageCase{"x", 0, "x(Error code: 0 )"}, MessageCase{"", 2, "(Error code: 2 )"}));

}  // namespace
