#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "checks/seeded_generator.hpp"
#include "test_support.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/phase_builder.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

using Tiles = std::vector<std::uint16_t>;
constexpr std::uint32_t RET = RETURN_INSTRUCTION;

std::unexpected<ExchangeError> fails(std::string_view message) {
  return std::unexpected(ExchangeError::schedule(message));
}

bool same_states(const PhaseProgramBuilder& a, const PhaseProgramBuilder& b) {
  return std::ranges::equal(a.tile_states(), b.tile_states());
}

class PhaseBuilderTest : public testing::Test {
 protected:
  const Topology topology = Topology::dorn();

  MulticastPlan multicast(std::uint16_t sender, const Tiles& receivers, std::uint32_t count) {
    auto plan = topology.multicast(sender, receivers, count, 0);
    EXPECT_TRUE(plan) << plan.error();
    return *plan;
  }
};

TEST_F(PhaseBuilderTest, EmptyPhases) {
  EXPECT_EQ(PhaseProgramBuilder(0).finish(), (PhasePrograms{{}, {}, 0}));
  EXPECT_EQ(PhaseProgramBuilder(3).finish(),
            (PhasePrograms{{std::nullopt, std::nullopt, std::nullopt}, {0, 0, 0}, 0}));
}

TEST_F(PhaseBuilderTest, PlacesAtTheRequestedOffsetWhenItFits) {
  const MulticastPlan plan = multicast(0, {274, 1286}, 64);
  const Tiles receivers = {274, 1286};
  PhaseProgramBuilder builder(1472);
  ASSERT_EQ(builder.earliest_transfer_offset(0, {}, receivers, plan, 64, 17), 17u);
  const auto first = builder.append_transfer_at(0, {}, receivers, plan, 17, 64);
  ASSERT_TRUE(first) << first.error();

  // The same transfer again starts its payload no earlier than the first one's end.
  const auto offset = builder.earliest_transfer_offset(0, {}, receivers, plan, 64, 0);
  ASSERT_TRUE(offset) << offset.error();
  const auto second = builder.transfer_timing_at(0, receivers, plan, *offset, 64);
  ASSERT_TRUE(second) << second.error();
  EXPECT_GE(second->payload_start, first->payload_end);

  // The offset is a fixed point of every tile's own search.
  const auto& states = builder.tile_states();
  EXPECT_EQ(states[0].earliest_sender_offset(plan.sender, *offset), *offset);
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    EXPECT_EQ(states[receivers[i]].earliest_receiver_offset(plan.receivers[i], 64, *offset),
              *offset);
  }
}

TEST_F(PhaseBuilderTest, TimingAndHorizons) {
  const MulticastPlan plan = multicast(0, {274, 1286}, 64);
  const Tiles receivers = {274, 1286};
  PhaseProgramBuilder builder(1472);
  const auto timing = builder.append_transfer_at(0, {}, receivers, plan, 0, 64);
  ASSERT_TRUE(timing) << timing.error();
  EXPECT_EQ(timing->payload_start, 23u);
  EXPECT_EQ(timing->payload_end, 87u);
  EXPECT_EQ(timing->sender_horizon, 87u);
  EXPECT_EQ(timing->receiver_horizons.size(), 2u);
  EXPECT_EQ(timing->horizon, std::max({timing->sender_horizon, timing->receiver_horizons[0],
                                       timing->receiver_horizons[1]}));
  const auto phase = std::move(builder).finish();
  ASSERT_TRUE(phase) << phase.error();
  EXPECT_EQ(phase->tile_event_cycles[274], timing->receiver_horizons[0]);
  EXPECT_EQ(phase->event_cycles, timing->horizon);
  EXPECT_EQ(std::ranges::count_if(phase->programs, [](const auto& p) { return p.has_value(); }), 3);
}

TEST_F(PhaseBuilderTest, IndexAndRowCountFaults) {
  const MulticastPlan plan = multicast(0, {274, 1286}, 64);
  const PhaseProgramBuilder builder(1472);
  EXPECT_EQ(builder.earliest_transfer_offset(0, {}, Tiles{274, 1472}, plan, 64, 0),
            std::unexpected(ExchangeError::tile(1472)));
  EXPECT_EQ(builder.earliest_transfer_offset(1472, {}, Tiles{274, 1286}, plan, 64, 0),
            std::unexpected(ExchangeError::tile(1472)));
  EXPECT_EQ(builder.earliest_transfer_offset(0, Tiles{1500}, Tiles{274, 1286}, plan, 64, 0),
            std::unexpected(ExchangeError::tile(1500)));
  EXPECT_EQ(builder.earliest_transfer_offset(0, {}, Tiles{274}, plan, 64, 0),
            fails("receiver row count"));
  EXPECT_EQ(builder.transfer_timing_at(0, Tiles{274}, plan, 0, 64), fails("receiver row count"));
  EXPECT_EQ(builder.transfer_is_encodable_at(1472, Tiles{274, 1286}, plan, 0, 64),
            std::unexpected(ExchangeError::tile(1472)));
}

TEST_F(PhaseBuilderTest, FailedPlacementsChangeNoTile) {
  const MulticastPlan plan = multicast(0, {274, 1286}, 64);
  PhaseProgramBuilder builder(1472);
  ASSERT_TRUE(builder.append_transfer_at(0, {}, Tiles{274, 1286}, plan, 0, 64));
  const PhaseProgramBuilder before = builder;
  struct Case {
    const char* text;
    std::uint16_t source;
    Tiles reserved;
    Tiles receivers;
    std::uint32_t offset;
    ExchangeError error;
  };
  const Case cases[] = {
      {"receiver is the source", 0, {}, {274, 0}, 500, ExchangeError::duplicate_tile()},
      {"receiver twice", 0, {}, {274, 274}, 500, ExchangeError::duplicate_tile()},
      {"reserved is the source", 0, {0}, {274, 1286}, 500, ExchangeError::duplicate_tile()},
      {"reserved is a receiver", 0, {274}, {274, 1286}, 500, ExchangeError::duplicate_tile()},
      {"reserved twice", 0, {5, 5}, {274, 1286}, 500, ExchangeError::duplicate_tile()},
      {"reserved beyond the board", 0, {1472}, {274, 1286}, 500, ExchangeError::tile(1472)},
      // The source already sends there: not even the reserved tile changes.
      {"source busy",
       0,
       {5},
       {274, 1286},
       0,
       ExchangeError::schedule("overlapping outgoing messages")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(builder.append_transfer_at(c.source, c.reserved, c.receivers, plan, c.offset, 64),
              std::unexpected(c.error))
        << c.text;
    EXPECT_TRUE(same_states(builder, before)) << c.text;
  }
}

TEST_F(PhaseBuilderTest, ReservedPartnerWaitsOutTheSend) {
  auto plan = topology.paired_multicast(0, {2, 3}, 64);
  ASSERT_TRUE(plan) << plan.error();
  PhaseProgramBuilder builder(1472);
  const Tiles reserved = {1};
  const Tiles receivers = {2, 3};
  const auto offset = builder.earliest_transfer_offset(0, reserved, receivers, *plan, 64, 0);
  ASSERT_TRUE(offset) << offset.error();
  const auto timing = builder.append_transfer_at(0, reserved, receivers, *plan, *offset, 64);
  ASSERT_TRUE(timing) << timing.error();
  EXPECT_EQ(timing->sender_horizon, 95u);
  // A later transfer from the partner waits until the paired send is over.
  const MulticastPlan next = multicast(1, {100}, 8);
  EXPECT_GE(builder.earliest_transfer_offset(0, Tiles{1}, Tiles{100}, next, 8, 0).value_or(0), 95u);
  const auto phase = std::move(builder).finish();
  ASSERT_TRUE(phase) << phase.error();
  EXPECT_EQ(phase->programs[1], (std::vector<std::uint32_t>{0x40A0005E, RET}));
  for (const std::uint16_t tile : Tiles{0, 2, 3}) {
    EXPECT_TRUE(phase->programs[tile].has_value()) << tile;
  }
}

// ---------------------------------------------------------------------------------------------
// Random phases over the whole board
// ---------------------------------------------------------------------------------------------

struct RandomTransfer {
  std::uint16_t source;
  Tiles reserved;
  Tiles receivers;
  MulticastPlan plan;
  std::uint32_t words;
};

// Tiles are drawn from the first `pool` logical ids (whole pairs), so that transfers meet on the
// same tiles and tiles send and receive in turn.
RandomTransfer draw_transfer(const Topology& topology, checks::SeededGenerator& random,
                             std::uint16_t pool) {
  const std::uint16_t source = random.u16(0, pool);
  const std::uint16_t partner = *topology.paired_logical(source);
  if (random.u32(0, 4) == 0) {
    // A paired transfer to one or two receiving pairs away from the sender's own pair.
    Tiles receivers;
    const std::size_t pairs = random.size_inclusive(1, 2);
    while (receivers.size() < 2 * pairs) {
      const std::uint16_t first = random.u16(0, pool);
      const std::uint16_t second = *topology.paired_logical(first);
      if (first == source || first == partner || std::ranges::count(receivers, first) != 0) {
        continue;
      }
      receivers.push_back(first);
      receivers.push_back(second);
    }
    const std::uint32_t words = random.u32_inclusive(64, 700);
    auto plan = topology.paired_multicast(source, receivers, words);
    if (plan) {
      for (Row& row : plan->receivers) {
        (void)patch_receiver_address(row, 0x60000 + 8 * random.u32(0, 4096));
      }
      return {source, {partner}, receivers, *plan, words};
    }
  }
  Tiles receivers;
  const std::size_t count = random.size_inclusive(1, 4);
  while (receivers.size() < count) {
    const std::uint16_t receiver = random.u16(0, pool);
    if (receiver != source && std::ranges::count(receivers, receiver) == 0) {
      receivers.push_back(receiver);
    }
  }
  const std::uint32_t words = random.u32_inclusive(1, 600);
  auto plan = topology.multicast(source, receivers, words, 0);
  for (Row& row : plan->receivers) {
    (void)patch_receiver_address(row, 0x50000 + 4 * random.u32(0, 8192));
  }
  return {source, {}, receivers, *plan, words};
}

// Builds a phase of random transfers; counts the searches whose first fixed point could not be
// encoded because of SENDPICP word alignment and that moved on to a later cycle (rare here).
void build_random_phase(std::uint64_t seed, std::uint16_t pool, int& alignment_retries) {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(seed);
  PhaseProgramBuilder builder(topology.tile_count());
  for (int i = 0; i < 60; ++i) {
    const RandomTransfer t = draw_transfer(topology, random, pool);
    const std::uint32_t requested = random.u32(0, 2000);
    const auto offset = builder.earliest_transfer_offset(t.source, t.reserved, t.receivers, t.plan,
                                                         t.words, requested);
    ASSERT_TRUE(offset) << offset.error();
    const auto first_fixed_point = builder.earliest_transfer_offset_impl(
        t.source, t.reserved, t.receivers, t.plan, t.words, requested, false);
    ASSERT_TRUE(first_fixed_point) << first_fixed_point.error();
    if (*first_fixed_point != *offset) {
      ++alignment_retries;
      EXPECT_LT(*first_fixed_point, *offset);
      EXPECT_EQ(builder.transfer_is_encodable_at(t.source, t.receivers, t.plan, *first_fixed_point,
                                                 t.words),
                fails("SENDPICP instruction alignment"));
    }
    EXPECT_EQ(builder.earliest_transfer_offset_impl(t.source, t.reserved, t.receivers, t.plan,
                                                    t.words, *offset, false),
              *offset)
        << "the result is a fixed point of every tile's search";
    // Somewhere the search did not agree to, placement either succeeds or changes nothing.
    const std::uint32_t elsewhere = random.u32(0, 3000);
    const PhaseProgramBuilder before = builder;
    if (!builder.append_transfer_at(t.source, t.reserved, t.receivers, t.plan, elsewhere,
                                    t.words)) {
      ASSERT_TRUE(same_states(builder, before));
    } else {
      builder = before;
    }
    const auto timing =
        builder.append_transfer_at(t.source, t.reserved, t.receivers, t.plan, *offset, t.words);
    ASSERT_TRUE(timing) << timing.error() << " at searched offset " << *offset;
  }
  const PhaseProgramBuilder placed = builder;
  const auto phase = std::move(builder).finish();
  ASSERT_TRUE(phase) << phase.error();
  for (std::uint16_t tile = 0; tile < topology.tile_count(); ++tile) {
    const auto& program = phase->programs[tile];
    ASSERT_EQ(program.has_value(), phase->tile_event_cycles[tile] != 0);
    if (program) {
      const auto valid =
          diagnostic::validate_tile_program(tile, placed.tile_states()[tile], *program);
      ASSERT_TRUE(valid) << "tile " << tile << ": " << valid.error();
      ASSERT_EQ(valid->event_cycles, phase->tile_event_cycles[tile]);
    }
  }
}

TEST(RandomPhases, FinishAndValidateOnEveryTile) {
  int alignment_retries = 0;
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    for (const std::uint16_t pool : {std::uint16_t{12}, std::uint16_t{48}, std::uint16_t{1472}}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", tiles below " << pool);
      ASSERT_NO_FATAL_FAILURE(build_random_phase(seed, pool, alignment_retries));
    }
  }
}

TEST(RandomPhases, SearchStepsPastUnalignablePairs) {
  // A relay receives, then sends on: the receive controls that fall inside its message are fused
  // into the sends, and for a few routes and sizes the first fixed point leaves a SENDPICP pair
  // at an odd word index (about one draw in twenty thousand). The search must then go on to a
  // later cycle.
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(0x616C69676E);
  int witnesses = 0;
  for (int attempt = 0; attempt < 20000 && witnesses == 0; ++attempt) {
    const std::uint16_t relay = random.u16(0, 1472);
    std::uint16_t source = random.u16(0, 1472);
    std::uint16_t destination = random.u16(0, 1472);
    if (source == relay || destination == relay) {
      continue;
    }
    const std::uint32_t words = random.u32_inclusive(2, 256);
    auto incoming = topology.multicast(source, {relay}, words, 0);
    const auto outgoing = topology.multicast(relay, {destination}, words, 0);
    ASSERT_TRUE(incoming && outgoing);
    ASSERT_TRUE(patch_receiver_address(incoming->receivers[0], 0x50000 + 4 * random.u32(0, 4096)));
    PhaseProgramBuilder builder(1472);
    const Tiles in_receivers = {relay};
    const Tiles out_receivers = {destination};
    ASSERT_TRUE(builder.append_transfer_at(source, {}, in_receivers, *incoming, 0, words));
    const auto unvalidated =
        builder.earliest_transfer_offset_impl(relay, {}, out_receivers, *outgoing, words, 0, false);
    const auto offset =
        builder.earliest_transfer_offset(relay, {}, out_receivers, *outgoing, words, 0);
    ASSERT_TRUE(unvalidated && offset);
    if (*unvalidated == *offset) {
      continue;
    }
    ++witnesses;
    EXPECT_EQ(
        builder.transfer_is_encodable_at(relay, out_receivers, *outgoing, *unvalidated, words),
        fails("SENDPICP instruction alignment"));
    EXPECT_TRUE(builder.transfer_is_encodable_at(relay, out_receivers, *outgoing, *offset, words));
    ASSERT_TRUE(builder.append_transfer_at(relay, {}, out_receivers, *outgoing, *offset, words));
    EXPECT_TRUE(std::move(builder).finish());
  }
  EXPECT_EQ(witnesses, 1);
}

}  // namespace
}  // namespace vantle_exchange
