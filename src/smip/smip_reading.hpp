// One SMIP reading: a meter element's import and export register values at
// one interval time stamp.
#pragma once

#include <optional>
#include <string>

#include "vantor/codec/epoch.hpp"

namespace meterops::smip {

struct SMIPReading {
  std::string serial;
  int register_ = 1;  // "register" is a keyword
  vantor::codec::DateTime timestamp;
  std::optional<double> imp;  // none when the interval has no import record
  std::optional<double> exp;  // none when the interval has no export record
  int errorCode = 0;

  bool operator==(const SMIPReading&) const = default;
};

}  // namespace meterops::smip
