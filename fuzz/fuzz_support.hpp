#pragma once

// What every fuzz target shares: reading the input, and oracles that stop the run with a
// message when a property does not hold.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/plan.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange::fuzz {

[[noreturn]] inline void violated(const char* property, const std::string& detail = {}) {
  std::fprintf(stderr, "property violated: %s %s\n", property, detail.c_str());
  std::abort();
}

inline void expect(bool holds, const char* property, const std::string& detail = {}) {
  if (!holds) {
    violated(property, detail);
  }
}

/// An error that escapes must be one the library documents: a variant, and for `Schedule` one
/// of the fixed texts.
inline void expect_documented(const ExchangeError& error) {
  if (error.kind() == ExchangeError::Kind::Schedule && !is_documented_message(error.message())) {
    violated("undocumented error", to_string(error));
  }
}

template <class T>
void expect_documented_if_failed(const Result<T>& result) {
  if (!result) {
    expect_documented(result.error());
  }
}

/// The dorn board, built once per fuzzing process.
inline const Topology& board() {
  static const Topology topology = Topology::dorn();
  return topology;
}

inline Row consume_row(FuzzedDataProvider& input) {
  Row row{};
  for (std::uint32_t& word : row) {
    word = input.ConsumeIntegral<std::uint32_t>();
  }
  return row;
}

inline std::vector<std::uint32_t> consume_words(FuzzedDataProvider& input, std::size_t limit) {
  std::vector<std::uint32_t> words;
  while (input.remaining_bytes() >= 4 && words.size() < limit) {
    words.push_back(input.ConsumeIntegral<std::uint32_t>());
  }
  return words;
}

/// A value that is mostly small, sometimes near a 32-bit edge: limits are where the faults are.
inline std::uint32_t consume_cycles(FuzzedDataProvider& input) {
  const auto kind = input.ConsumeIntegralInRange<int>(0, 15);
  if (kind < 7) {
    return input.ConsumeIntegralInRange<std::uint32_t>(0, 300);
  }
  if (kind < 14) {
    return input.ConsumeIntegralInRange<std::uint32_t>(0, 5000);
  }
  if (kind == 14) {
    return 0xFFFFFFFFu - input.ConsumeIntegralInRange<std::uint32_t>(0, 5000);
  }
  return input.ConsumeIntegral<std::uint32_t>();
}

/// The first words of a sequence in hex, enough to recognise it.
template <class Words>
std::string hex_words(const Words& words) {
  std::ostringstream out;
  out << std::hex;
  std::size_t shown = 0;
  for (const std::uint32_t word : words) {
    if (++shown > 48) {
      out << "... (" << std::dec << words.size() << " words)";
      break;
    }
    out << word << ' ';
  }
  return out.str();
}

}  // namespace vantle_exchange::fuzz
