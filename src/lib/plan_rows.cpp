#include "plan_rows.hpp"

#include <algorithm>

#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange::detail {
namespace {

// The largest payload of one SEND word; a SENDOFF carries the rest.
constexpr std::uint32_t SEND_WORDS = 64;
// A sender row lasts at least this many cycles.
constexpr std::int64_t MINIMUM_SENDER_ROW_CYCLES = 6;
// Up to this many words the neutral mux lands before the pointer write.
constexpr std::uint32_t SHORT_RECEIVE_WORDS = 51;
constexpr std::uint32_t NEUTRAL_MUX = TILE_MUX_EXCHANGE;

}  // namespace

Row sender_row(std::int64_t sender_delay, std::uint32_t count, std::uint32_t direction) {
  RowWriter row;
  row.push(ROW_ENTRY_INSTRUCTION);
  if (sender_delay >= 0) {
    row.push(delay(static_cast<std::uint32_t>(sender_delay)));
  }
  const std::uint32_t first_packet = std::min(count, SEND_WORDS);
  // Count at most 64 and direction at most 3: the encoder cannot refuse them.
  row.push(*encode_send(first_packet - 1, direction, 0));
  if (count > SEND_WORDS) {
    row.push(send_off(count - SEND_WORDS - 1, direction, 0));
  }
  // The send starts at cycle sender_delay + 1 and lasts count cycles.
  const std::int64_t trailing_delay =
      MINIMUM_SENDER_ROW_CYCLES - 2 - sender_delay - static_cast<std::int64_t>(count);
  if (trailing_delay >= 0) {
    row.push(delay(static_cast<std::uint32_t>(trailing_delay)));
  }
  row.push(RETURN_INSTRUCTION);
  return row.row();
}

void push_receive_controls(RowWriter& row, std::uint32_t count, std::uint32_t phase,
                           std::uint32_t pointer_word) {
  if (count <= SHORT_RECEIVE_WORDS) {
    row.push(delay_xpic(count - 1, 0, NEUTRAL_MUX));
    row.push(delay_pic(SHORT_RECEIVE_WORDS - count + phase, 0, pointer_word));
    row.push(delay(count + 4));
  } else if (count == SHORT_RECEIVE_WORDS + 1) {
    row.push(delay_pic(phase + 50, 0, pointer_word));
    row.push(delay_xpic(0, 0, NEUTRAL_MUX));
    row.push(delay(56));
  } else {
    row.push(delay_pic(phase + 51, 0, pointer_word));
    row.push(delay_xpic(count - 53, 0, NEUTRAL_MUX));
    row.push(delay(56));
  }
  row.push(RETURN_INSTRUCTION);
}

}  // namespace vantle_exchange::detail
