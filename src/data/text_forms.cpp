// Text forms of JPos and Coord: every value in declaration order, numbers in fixed-point
// notation with 2 decimals, separated by single blanks.
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>

#include "korvo/vyr/data.hpp"

namespace korvo::vyr {
namespace {

// Writes the blank separator before every item but the first.
class BlankJoiner {
 public:
  BlankJoiner() {
    // The classic locale keeps the decimal point a '.' whatever the process locale is.
    out_.imbue(std::locale::classic());
    out_ << std::fixed << std::setprecision(2);
  }

  template <typename Range>
  void AddAll(const Range& values) {
    for (const auto& value : values) Add(value);
  }

  template <typename T>
  void Add(const T& value) {
    if (!first_) out_ << ' ';
    first_ = false;
    out_ << value;
  }

  std::string str() const { return out_.str(); }

 private:
  std::ostringstream out_;
  bool first_ = true;
};

}  // namespace

std::string JPos::str() const {
  BlankJoiner text;
  text.AddAll(q_m);
  text.AddAll(q_e);
  return text.str();
}

std::string Coord::str() const {
  BlankJoiner text;
  text.AddAll(position);
  text.AddAll(orientation);
  // Empty frame strings still take their place, leaving consecutive blanks.
  text.AddAll(ref_frame);
  text.AddAll(ref_q_m);
  text.AddAll(ref_q_e);
  return text.str();
}

}  // namespace korvo::vyr
