#pragma once

// Printing helpers for the unit tests: results and words show in hex and by variant name.

#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/log.hpp"
#include "vantle_exchange/plan.hpp"

namespace vantle_exchange::testing_support {

inline std::string hex(std::uint32_t word) {
  std::ostringstream out;
  out << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0') << word;
  return out.str();
}

template <class Words>
std::string hex_words(const Words& words) {
  std::string text = "[";
  for (const std::uint32_t word : words) {
    text += (text.size() > 1 ? ", " : "") + hex(word);
  }
  return text + "]";
}

inline std::string describe(const Result<std::uint32_t>& result) {
  return result ? hex(*result) : to_string(result.error());
}

inline std::string describe(const Status& status) {
  return status ? "success" : to_string(status.error());
}

}  // namespace vantle_exchange::testing_support

namespace vantle_exchange::log {
inline void PrintTo(const Field& field, std::ostream* out) {
  *out << field.name << ": " << field.value;
}
}  // namespace vantle_exchange::log
