// Random multicast and paired transfers over the 1472 tiles of the board, each searched and
// placed, then the phase finished: every search result is placeable, a placement elsewhere
// either succeeds or changes no tile, and every program of the phase validates.

#include <algorithm>

#include "fuzz_support.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/phase_builder.hpp"
#include "vantle_exchange/topology.hpp"

using namespace vantle_exchange;
using namespace vantle_exchange::fuzz;

namespace {

using Tiles = std::vector<std::uint16_t>;

struct Transfer {
  std::uint16_t source;
  Tiles reserved;
  Tiles receivers;
  MulticastPlan plan;
  std::uint32_t words;
};

std::optional<Transfer> consume_transfer(FuzzedDataProvider& input, std::uint16_t pool) {
  const auto source = input.ConsumeIntegralInRange<std::uint16_t>(0, pool - 1);
  const std::uint16_t partner = *board().paired_logical(source);
  const std::uint32_t words = input.ConsumeIntegralInRange<std::uint32_t>(1, 1200);
  Tiles receivers;
  if (input.ConsumeIntegralInRange<int>(0, 3) == 0) {
    const auto pairs = input.ConsumeIntegralInRange<std::size_t>(1, 3);
    for (std::size_t i = 0; i < pairs; ++i) {
      const auto first = static_cast<std::uint16_t>(
          input.ConsumeIntegralInRange<std::uint16_t>(0, pool - 1) & ~1u);
      receivers.push_back(first);
      receivers.push_back(static_cast<std::uint16_t>(first + 1));
    }
    auto plan = board().paired_multicast(source, receivers, std::max<std::uint32_t>(words, 64));
    if (!plan) {
      expect_documented(plan.error());
      return std::nullopt;
    }
    for (Row& row : plan->receivers) {
      (void)patch_receiver_address(row,
                                   8 * input.ConsumeIntegralInRange<std::uint32_t>(0, 0x1FFFF));
    }
    return Transfer{source, {partner}, receivers, *plan, std::max<std::uint32_t>(words, 64)};
  }
  const auto count = input.ConsumeIntegralInRange<std::size_t>(1, 5);
  for (std::size_t i = 0; i < count; ++i) {
    receivers.push_back(input.ConsumeIntegralInRange<std::uint16_t>(0, pool - 1));
  }
  auto plan = board().multicast(source, receivers, words,
                                input.ConsumeIntegralInRange<std::uint32_t>(0, 100));
  if (!plan) {
    expect_documented(plan.error());
    return std::nullopt;
  }
  for (Row& row : plan->receivers) {
    (void)patch_receiver_address(row, 4 * input.ConsumeIntegralInRange<std::uint32_t>(0, 0x3FFFF));
  }
  return Transfer{source, {}, receivers, *plan, words};
}

bool same_states(const PhaseProgramBuilder& a, const PhaseProgramBuilder& b) {
  return std::ranges::equal(a.tile_states(), b.tile_states());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Most phases crowd their transfers onto a few tiles, where tiles send and receive in turn.
  const std::uint16_t pool =
      input.ConsumeBool()
          ? static_cast<std::uint16_t>(2 * input.ConsumeIntegralInRange<std::uint16_t>(2, 24))
          : std::uint16_t{1472};
  PhaseProgramBuilder builder(board().tile_count());
  // Transfers placed only at searched offsets always give a phase that can be emitted.
  bool only_searched = true;
  for (int step = 0; step < 40 && input.remaining_bytes() > 0; ++step) {
    const auto transfer = consume_transfer(input, pool);
    if (!transfer) {
      continue;
    }
    const Transfer& t = *transfer;
    if (input.ConsumeIntegralInRange<int>(0, 4) == 0) {
      const PhaseProgramBuilder before = builder;
      const auto placed = builder.append_transfer_at(t.source, t.reserved, t.receivers, t.plan,
                                                     consume_cycles(input), t.words);
      if (!placed) {
        expect_documented(placed.error());
        expect(same_states(builder, before), "a failed placement changes no tile");
      } else {
        only_searched = false;
      }
      continue;
    }
    const auto offset = builder.earliest_transfer_offset(t.source, t.reserved, t.receivers, t.plan,
                                                         t.words, consume_cycles(input) % 100000);
    expect_documented_if_failed(offset);
    if (!offset) {
      continue;
    }
    const auto placed =
        builder.append_transfer_at(t.source, t.reserved, t.receivers, t.plan, *offset, t.words);
    expect_documented_if_failed(placed);
    // The search does not look for repeated tiles; placement rejects them.
    expect(placed || placed.error() == ExchangeError::duplicate_tile(),
           "a searched offset is placeable", placed ? "" : to_string(placed.error()));
  }
  const PhaseProgramBuilder placed = builder;
  const auto phase = std::move(builder).finish();
  expect_documented_if_failed(phase);
  expect(phase || !only_searched, "a phase of searched placements can be emitted",
         phase ? "" : to_string(phase.error()));
  if (!phase) {
    return 0;
  }
  for (std::uint16_t tile = 0; tile < board().tile_count(); ++tile) {
    const auto& program = phase->programs[tile];
    expect(program.has_value() == (phase->tile_event_cycles[tile] != 0),
           "busy tiles have programs");
    if (program) {
      const auto valid =
          diagnostic::validate_tile_program(tile, placed.tile_states()[tile], *program);
      expect(valid.has_value(), "every program validates");
    }
  }
  return 0;
}
