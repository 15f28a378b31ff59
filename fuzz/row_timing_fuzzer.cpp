// Any nine-word row, at any offset and word count, gives timings whose events are sorted and lie
// within the horizon, or a documented error; shifting a walked row agrees with walking it there.

#include <algorithm>

#include "fuzz_support.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/row_timing.hpp"

using namespace vantle_exchange;
using namespace vantle_exchange::fuzz;

namespace {

// Rows that are mostly well formed reach deeper than uniformly random words.
Row consume_shaped_row(FuzzedDataProvider& input) {
  Row row = consume_row(input);
  if (input.ConsumeBool()) {
    row[0] = ROW_ENTRY_INSTRUCTION;
    const auto end = input.ConsumeIntegralInRange<std::size_t>(1, 8);
    row[end] = RETURN_INSTRUCTION;
    for (std::size_t i = 1; i < end; ++i) {
      // Steer the word into one of the timed classes, keeping its other bits.
      switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
          row[i] = delay_pic(row[i] >> 25, row[i] >> 18, row[i]);
          break;
        case 1:
          row[i] = delay_xpic(row[i] >> 20, row[i] >> 13, input.ConsumeBool() ? 1600 : row[i]);
          break;
        case 2:
          row[i] = delay(row[i] & 0xFF);
          break;
        case 3:
          row[i] = 0x78000000 | (row[i] & 0x07FFFFFF);
          break;
        default:
          break;
      }
    }
  }
  return row;
}

void expect_sorted_within(const std::vector<ReceiveEvent>& events, std::uint32_t horizon,
                          const char* what) {
  expect(std::ranges::is_sorted(events, {}, &ReceiveEvent::cycles), what, "events sorted");
  for (const ReceiveEvent& event : events) {
    expect(event.cycles <= horizon, what, "event within the horizon");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Row row = consume_shaped_row(input);
  const std::uint32_t offset = consume_cycles(input);
  const std::uint32_t words = consume_cycles(input);
  std::optional<ReceiveStream> previous;
  if (input.ConsumeBool()) {
    previous = ReceiveStream{
        input.ConsumeBool() ? std::optional<std::uint32_t>(input.ConsumeIntegral<std::uint32_t>())
                            : std::nullopt,
        consume_cycles(input), consume_cycles(input),
        input.ConsumeBool() ? ReceiveMode::Paired64 : ReceiveMode::Ordinary};
  }

  const auto sender = sender_row_timing(row, offset);
  expect_documented_if_failed(sender);
  if (sender) {
    expect(offset <= sender->start_cycles && sender->start_cycles < sender->end_cycles &&
               sender->end_cycles <= sender->horizon_cycles,
           "sender interval inside the row");
  }

  const auto base = receive_row_timing(row, 0);
  expect_documented_if_failed(base);
  if (!base) {
    return 0;
  }
  expect_sorted_within(base->events, base->horizon_cycles, "receiver row");
  expect(base->pointer_cycles.has_value() == base->pointer_address.has_value(), "pointer pair");
  if (base->mode == ReceiveMode::Ordinary) {
    expect(base->source_cycles && base->neutral_cycles, "ordinary rows select and tear down");
  } else {
    expect(base->format_start_cycles && base->format_end_cycles, "paired rows are bracketed");
  }

  const auto shifted = receive_row_timing_from_base(*base, offset);
  const auto walked = receive_row_timing(row, offset);
  expect_documented_if_failed(shifted);
  if (shifted && walked) {
    expect(*shifted == *walked, "shifting a walked row is walking it there");
  }

  const auto window = scheduled_receive_window(*base, offset, words, previous);
  expect_documented_if_failed(window);
  if (window) {
    expect_sorted_within(window->events, window->horizon, "receive window");
    // A malformed paired row may end its format before it starts; an ordinary one holds the mux
    // for one cycle per word.
    if (base->mode == ReceiveMode::Ordinary) {
      expect(window->source_end - window->source_start == words, "source interval");
    }
    expect(window->payload_start <= window->payload_end, "payload interval");
    expect(window->source_end <= window->horizon && window->payload_end <= window->horizon,
           "the data end within the window");
    expect(validate_receive_events(window->events).has_value(), "window controls encodable");
  }
  return 0;
}
