#include "client/kro_state.hpp"

namespace korvo::vyr_impl {
namespace {

class KroGeneralStateCategoryImpl final : public KroStateCategory {
 public:
  const char* name() const override { return "General"; }

  const char* message(int code) const override {
    switch (code) {
      case kKroOk:
        return "OK";
      case kKroWarning:
        return "Warning";
      case kKroFault:
        return "Fault";
      case kKroCriticalFault:
        return "Critical fault";
      default:
        return "(unrecognized)";
    }
  }
};

const KroStateCategory& GeneralCategory() {
  static const KroGeneralStateCategoryImpl category;
  return category;
}

}  // namespace

KroState MakeKroState(std::int32_t code) { return KroState{code, GeneralCategory()}; }

}  // namespace korvo::vyr_impl
