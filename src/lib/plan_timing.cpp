#include <algorithm>
#include <limits>

#include "failure.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/plan.hpp"

namespace vantle_exchange {
namespace {

constexpr std::uint32_t LAST_ROW_INDEX = 8;

}  // namespace

Status offset_plan(Row& row, std::uint32_t cycles) {
  if (cycles == 0) {
    return {};
  }
  if (row[0] != ROW_ENTRY_INSTRUCTION) {
    return detail::fail(message::PLAN_OFFSET_ENTRY);
  }
  const auto return_word = std::ranges::find(row, RETURN_INSTRUCTION);
  if (return_word == row.end()) {
    return detail::fail(message::PLAN_OFFSET_RETURN);
  }
  const auto end = static_cast<std::uint32_t>(return_word - row.begin());
  const std::uint32_t available = LAST_ROW_INDEX - end;
  // One delay word covers at most 2^19 cycles.
  const std::uint32_t delay_count = (cycles - 1) / MAXIMUM_DELAY_ADVANCE + 1;
  if (delay_count > available) {
    const std::uint64_t maximum = std::uint64_t{available} * MAXIMUM_DELAY_ADVANCE;
    return std::unexpected(ExchangeError::plan_offset_range(
        cycles, static_cast<std::uint32_t>(
                    std::min<std::uint64_t>(maximum, std::numeric_limits<std::uint32_t>::max()))));
  }
  // Shift the timed words and the return word back over the zero words after the return word.
  std::copy_backward(row.begin() + 1, row.begin() + end + 1, row.begin() + end + 1 + delay_count);
  std::uint32_t remaining = cycles;
  for (std::uint32_t i = 1; i <= delay_count; ++i) {
    const std::uint32_t chunk = std::min(remaining, MAXIMUM_DELAY_ADVANCE);
    row[i] = delay(chunk - 1);
    remaining -= chunk;
  }
  return {};
}

Result<std::uint32_t> plan_event_cycles(std::span<const std::uint32_t> row) {
  std::uint64_t cycles = 0;
  for (std::size_t cursor = 0; cursor < row.size();) {
    cycles += instruction_advance(row[cursor]);
    if (cycles > std::numeric_limits<std::uint32_t>::max()) {
      return detail::fail(message::PLAN_EVENT_HORIZON_OVERFLOW);
    }
    cursor += is_send_control_pair(row[cursor]) ? 2u : 1u;
  }
  return static_cast<std::uint32_t>(cycles);
}

}  // namespace vantle_exchange
