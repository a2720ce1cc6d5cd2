// Status values returned by every client service that talks to the robot.
#pragma once

#include <cstdint>

namespace korvo::vyr_impl {

// Names the status codes of one category.
class KroStateCategory {
 public:
  virtual ~KroStateCategory() = default;
  virtual const char* name() const = 0;
  virtual const char* message(int code) const = 0;
};

// The codes are ordered by severity: a larger code is a worse outcome.
inline constexpr std::int32_t kKroOk = 100000;
inline constexpr std::int32_t kKroWarning = 200000;
inline constexpr std::int32_t kKroFault = 300000;
inline constexpr std::int32_t kKroCriticalFault = 400000;

struct KroState {
  std::int32_t code;
  const KroStateCategory& category;

  bool ok() const { return code == kKroOk; }
};

// Pairs `code` with the single "General" category.
KroState MakeKroState(std::int32_t code);

}  // namespace korvo::vyr_impl
