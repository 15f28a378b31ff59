#pragma once

// The pseudo-random draws of the randomized checks and tests, from a seeded 64-bit Mersenne
// twister. The draws are computed here rather than by the standard distributions, so a seed
// yields the same sequence with every standard library.

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <utility>

namespace vantle_exchange::checks {

class SeededGenerator {
 public:
  explicit SeededGenerator(std::uint64_t seed) : engine_(seed) {}

  /// Uniform in [first, end); `first` when the range is empty.
  std::uint16_t u16(std::uint16_t first, std::uint16_t end) {
    return static_cast<std::uint16_t>(u64(first, end));
  }
  /// Uniform in [first, end); `first` when the range is empty.
  std::uint32_t u32(std::uint32_t first, std::uint32_t end) {
    return static_cast<std::uint32_t>(u64(first, end));
  }
  /// Uniform in [first, last].
  std::uint32_t u32_inclusive(std::uint32_t first, std::uint32_t last) {
    return static_cast<std::uint32_t>(u64(first, std::uint64_t{last} + 1));
  }
  /// Uniform in [first, last].
  std::size_t size_inclusive(std::size_t first, std::size_t last) {
    return static_cast<std::size_t>(u64(first, std::uint64_t{last} + 1));
  }
  bool boolean() { return (engine_() & 1) != 0; }

  /// Fisher-Yates, with the draws above.
  template <class T>
  void shuffle(std::span<T> values) {
    for (std::size_t i = values.size(); i > 1; --i) {
      std::swap(values[i - 1], values[static_cast<std::size_t>(u64(0, i))]);
    }
  }

 private:
  // Uniform in [first, end) by rejection, without modulo bias.
  std::uint64_t u64(std::uint64_t first, std::uint64_t end) {
    if (end <= first) {
      return first;
    }
    const std::uint64_t span = end - first;
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % span;
    std::uint64_t draw = engine_();
    while (draw >= limit) {
      draw = engine_();
    }
    return first + draw % span;
  }

  std::mt19937_64 engine_;
};

}  // namespace vantle_exchange::checks
