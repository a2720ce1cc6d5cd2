#include "client/kro_state.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace korvo::vyr_impl {
namespace {

struct CodeText {
  int code;
  std::string text;
};

class KroStateMessage : public ::testing::TestWithParam<CodeText> {};

TEST_P(KroStateMessage, NamesCodeByExactValue) {
  const auto state = MakeKroState(GetParam().code);
  EXPECT_EQ(state.code, GetParam().code);
  EXPECT_EQ(std::string(state.category.message(GetParam().code)), GetParam().text);
  EXPECT_EQ(std::string(state.category.name()), "General");
}

INSTANTIATE_TEST_SUITE_P(
    Codes, KroStateMessage,
    ::testing::Values(CodeText{100000, "OK"}, CodeText{200000, "Warning"},
                      CodeText{300000, "Fault"}, CodeText{400000, "Critical fault"},
                      CodeText{250000, "(unrecognized)"}, CodeText{0, "(unrecognized)"},
                      CodeText{-100000, "(unrecognized)"}, CodeText{100001, "(unrecognized)"}));

TEST(KroState, OnlyOkCountsAsSuccess) {
  EXPECT_TRUE(MakeKroState(kKroOk).ok());
  EXPECT_FALSE(MakeKroState(kKroWarning).ok());
  EXPECT_FALSE(MakeKroState(kKroFault).ok());
}

TEST(KroState, AllStatesShareOneCategoryAcrossThreads) {
  std::vector<const KroStateCategory*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &MakeKroState(kKroFault).category; });
  }
  for (auto& t : threads) t.join();
  for (const auto* category : seen) EXPECT_EQ(category, &MakeKroState(kKroOk).category);
}

}  // namespace
}  // namespace korvo::vyr_impl
