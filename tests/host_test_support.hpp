#pragma once

// Printing helpers for the host tests: headers show in hex, errors by
// their debug text, so that a failed table line reads as the case it came from.

#include <cstdint>
#include <sstream>
#include <string>

#include "test_support.hpp"
#include "vantle_exchange/host.hpp"

namespace vantle_exchange::testing_support {

inline std::string describe(const Result<HostPacketHeader>& result) {
  if (!result) {
    return to_string(result.error());
  }
  std::ostringstream out;
  out << *result;
  return out.str();
}

inline Result<HostPacketHeader> header(std::uint32_t word0, std::uint32_t word1) {
  return HostPacketHeader{word0, word1};
}

}  // namespace vantle_exchange::testing_support
