#pragma once

// The row shapes shared by the point-to-point and multicast plans.

#include <cstddef>
#include <cstdint>

#include "vantle_exchange/plan.hpp"

namespace vantle_exchange::detail {

/// Fills a row from word 0; the words it does not reach stay 0.
class RowWriter {
 public:
  void push(std::uint32_t word) { row_[cursor_++] = word; }
  const Row& row() const { return row_; }

 private:
  Row row_{};
  std::size_t cursor_ = 0;
};

/// Twice the row of a physical tile: the receive pointer write lands this many cycles later on
/// tiles further up the board.
constexpr std::uint32_t receiver_phase(std::uint32_t physical) {
  return (physical / 64) * 2;
}

/// The sender row: entry word, a delay of `sender_delay` + 1 cycles unless `sender_delay` is -1,
/// the first SEND of up to 64 words, a SENDOFF of the rest, a trailing delay when the row would
/// otherwise end before cycle 6, and the return word.
Row sender_row(std::int64_t sender_delay, std::uint32_t count, std::uint32_t direction);

/// The receive controls that follow the mux selection, which takes effect at cycle m:
///   up to 51 words: neutral mux at m + count, receive pointer at m + 52 + phase;
///   52 words:       receive pointer at m + 51 + phase, neutral mux at m + 52 + phase;
///   53 words on:    receive pointer at m + 52 + phase, neutral mux at m + count + phase;
/// then the closing delay and the return word. The controls stand in the order in which they
/// take effect; `pointer_word` is the word address the pointer control writes.
void push_receive_controls(RowWriter& row, std::uint32_t count, std::uint32_t phase,
                           std::uint32_t pointer_word);

}  // namespace vantle_exchange::detail
