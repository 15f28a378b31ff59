#pragma once

// Printing helpers for the host tests: headers, word lists and programs show in hex, errors by
// their debug text, so that a failed table line reads as the case it came from.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

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

inline std::string describe(const Result<std::vector<std::uint32_t>>& result) {
  return result ? hex_words(*result) : to_string(result.error());
}

inline std::string describe(const Result<TileToHostProgram>& result) {
  if (!result) {
    return to_string(result.error());
  }
  return "instructions " + hex_words(result->instructions) + ", packet words " +
         hex_words(result->packet_words);
}

inline Result<HostPacketHeader> header(std::uint32_t word0, std::uint32_t word1) {
  return HostPacketHeader{word0, word1};
}

inline ExchangeError host_packet_error() {
  return ExchangeError::host_packet();
}

inline ExchangeError send_operand_error() {
  return ExchangeError::schedule(message::SEND_INSTRUCTION_OPERAND);
}

}  // namespace vantle_exchange::testing_support
