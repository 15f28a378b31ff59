// A byte stream drives searches and placements of rows taken from real plans and of arbitrary
// rows on one tile. A search result is always placeable for real rows; after every placement at
// a searched offset the program is emitted and validated, or fails with a documented error; a
// failed operation leaves the schedule as it was.

#include "fuzz_support.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/tile_schedule.hpp"
#include "vantle_exchange/topology.hpp"

using namespace vantle_exchange;
using namespace vantle_exchange::fuzz;

namespace {

struct Candidate {
  Row row;
  bool sends;
  bool real;
  std::uint32_t words;
};

std::uint16_t consume_other_tile(FuzzedDataProvider& input, std::uint16_t tile) {
  auto other = input.ConsumeIntegralInRange<std::uint16_t>(0, 1471);
  return other == tile ? static_cast<std::uint16_t>((other + 2) % 1472) : other;
}

std::optional<Candidate> consume_candidate(FuzzedDataProvider& input, std::uint16_t tile) {
  const std::uint32_t words = input.ConsumeIntegralInRange<std::uint32_t>(1, 700);
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {
      auto plan = board().multicast(consume_other_tile(input, tile), {tile}, words,
                                    input.ConsumeIntegralInRange<std::uint32_t>(0, 64));
      if (!plan) {
        return std::nullopt;
      }
      Row row = plan->receivers[0];
      (void)patch_receiver_address(row,
                                   4 * input.ConsumeIntegralInRange<std::uint32_t>(0, 0x3FFFF));
      return Candidate{row, false, true, words};
    }
    case 1: {
      auto plan = board().multicast(tile, {consume_other_tile(input, tile)}, words,
                                    input.ConsumeIntegralInRange<std::uint32_t>(0, 64));
      if (!plan) {
        return std::nullopt;
      }
      return Candidate{plan->sender, true, true, words};
    }
    case 2: {
      // One member of a receiving pair of a paired transfer.
      const auto partner = board().paired_logical(tile);
      const auto sender = consume_other_tile(input, tile);
      if (!partner || sender == *partner) {
        return std::nullopt;
      }
      const std::uint32_t count = std::max<std::uint32_t>(words, 64);
      auto plan = board().paired_multicast(sender, {tile, *partner}, count);
      if (!plan) {
        return std::nullopt;
      }
      Row row = plan->receivers[0];
      (void)patch_receiver_address(row,
                                   8 * input.ConsumeIntegralInRange<std::uint32_t>(0, 0x1FFFF));
      return Candidate{row, false, true, count};
    }
    default: {
      Row row = consume_row(input);
      if (input.ConsumeBool()) {
        row[0] = ROW_ENTRY_INSTRUCTION;
        row[input.ConsumeIntegralInRange<std::size_t>(1, 8)] = RETURN_INSTRUCTION;
      }
      return Candidate{row, input.ConsumeBool(), false, consume_cycles(input)};
    }
  }
}

Result<std::uint32_t> search(const TileProgramSchedule& schedule, const Candidate& c,
                             std::uint32_t requested) {
  return c.sends ? schedule.earliest_sender_offset(c.row, requested)
                 : schedule.earliest_receiver_offset(c.row, c.words, requested);
}

Status place(TileProgramSchedule& schedule, const Candidate& c, std::uint32_t offset) {
  if (c.sends) {
    return schedule.append_sender_at(c.row, offset);
  }
  const auto window = schedule.append_receiver_at(c.row, offset, c.words);
  return window ? Status() : std::unexpected(window.error());
}

void expect_valid_program(const TileProgramSchedule& schedule) {
  const auto program = schedule.finish();
  expect_documented_if_failed(program);
  if (!program) {
    return;
  }
  expect(!program->empty() && program->back() == RETURN_INSTRUCTION, "ends with the return word");
  expect(std::ranges::count(*program, RETURN_INSTRUCTION) == 1, "one return word",
         hex_words(*program));
  const auto valid = diagnostic::validate_tile_program(0, schedule, *program);
  if (!valid) {
    std::string senders;
    for (const ScheduledSenderRow& sender : schedule.senders()) {
      senders += "[" + std::to_string(sender.start_cycles) + ", " +
                 std::to_string(sender.end_cycles) + "): " + hex_words(sender.row) + "\n";
    }
    violated("emitted program matches its schedule",
             to_string(valid.error()) + ": " + hex_words(*program) + "\nsenders:\n" + senders);
  }
  expect(valid->event_cycles == schedule.event_cycles(), "program length is the horizon");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto tile = input.ConsumeIntegralInRange<std::uint16_t>(0, 1471);
  TileProgramSchedule schedule;
  for (int step = 0; step < 48 && input.remaining_bytes() > 0; ++step) {
    const auto candidate = consume_candidate(input, tile);
    if (!candidate) {
      continue;
    }
    const bool at_searched_offset = input.ConsumeIntegralInRange<int>(0, 3) != 0;
    const std::uint32_t requested = consume_cycles(input);
    const TileProgramSchedule before = schedule;
    std::uint32_t offset = requested;
    if (at_searched_offset) {
      const auto found = search(schedule, *candidate, requested);
      expect(schedule == before, "a search changes nothing");
      expect_documented_if_failed(found);
      if (!found) {
        continue;
      }
      offset = *found;
    }
    const Status placed = place(schedule, *candidate, offset);
    if (!placed) {
      expect_documented(placed.error());
      expect(schedule == before, "a failed placement changes nothing", to_string(placed.error()));
      expect(!(at_searched_offset && candidate->real), "a searched offset is placeable",
             to_string(placed.error()));
      continue;
    }
    if (at_searched_offset) {
      expect_valid_program(schedule);
    } else {
      expect_documented_if_failed(schedule.finish());
    }
  }
  return 0;
}
