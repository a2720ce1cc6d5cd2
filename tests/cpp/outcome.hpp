// How a library call ended: accepted, or an exception of one exact kind with its message. Lets a
// table of cases state the expected end of each call in one value.
#pragma once

#include <exception>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>

namespace korvo::test {

struct Outcome {
  enum Kind { kAccepted, kInvalidArgument, kLogicError, kRuntimeError, kOther } kind = kAccepted;
  std::string message;
  bool operator==(const Outcome&) const = default;
};

inline void PrintTo(const Outcome& o, std::ostream* os) {
  static const char* const kKinds[] = {"accepted", "invalid_argument", "logic_error",
                                       "runtime_error", "other"};
  *os << kKinds[o.kind];
  if (!o.message.empty()) *os << " \"" << o.message << "\"";
}

inline Outcome Accepted() { return {}; }
inline Outcome Invalid(std::string m) { return {Outcome::kInvalidArgument, std::move(m)}; }
inline Outcome Logic(std::string m) { return {Outcome::kLogicError, std::move(m)}; }
inline Outcome Runtime(std::string m) { return {Outcome::kRuntimeError, std::move(m)}; }

inline Outcome OutcomeOf(const std::function<void()>& call) {
  try {
    call();
    return Accepted();
  } catch (const std::exception& e) {
    const auto& type = typeid(e);
    if (type == typeid(std::invalid_argument)) return Invalid(e.what());
    if (type == typeid(std::logic_error)) return Logic(e.what());
    if (type == typeid(std::runtime_error)) return Runtime(e.what());
    return {Outcome::kOther, e.what()};
  }
}

}  // namespace korvo::test
