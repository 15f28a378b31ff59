// Checks of paired 64-bit transfers.

#include "paired_checks.hpp"

#include <algorithm>
#include <vector>

#include "checks/check.hpp"
#include "checks/seeded_generator.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/phase_builder.hpp"
#include "vantle_exchange/program_encoder.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange::tests {
namespace {

struct PairedCase {
  std::uint16_t sender;
  std::vector<std::uint16_t> receivers;
  std::uint16_t early_member;
};

// The first tile of every receiving pair, lower logical id first, with its partner.
std::vector<std::pair<std::uint16_t, std::uint16_t>> board_pairs(const Topology& topology) {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> pairs;
  for (std::uint16_t tile = 0; tile < topology.tile_count(); ++tile) {
    const auto partner = topology.paired_logical(tile);
    if (partner && *partner > tile) {
      pairs.emplace_back(tile, *partner);
    }
  }
  return pairs;
}

std::uint32_t physical_of(const Topology& topology, std::uint16_t logical) {
  return topology.logical_to_physical()[logical];
}

void expect_route_relative_timing(const Topology& topology, std::uint16_t source,
                                  const std::vector<std::uint16_t>& receivers,
                                  const MulticastPlan& plan, std::uint32_t count) {
  const std::uint32_t s = physical_of(topology, source);
  std::int32_t minimum_double_mux = std::numeric_limits<std::int32_t>::max();
  for (const std::uint16_t receiver : receivers) {
    minimum_double_mux =
        std::min(minimum_double_mux, paired_time_to_mux(s, physical_of(topology, receiver)));
  }
  const std::int64_t epoch_shift = std::max<std::int64_t>(1 - std::int64_t{minimum_double_mux}, 0);
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    const std::uint32_t rp = physical_of(topology, receivers[i]);
    const std::int64_t source_event = paired_time_to_mux(s, rp) + epoch_shift;
    ASSERT_GE(source_event, 0);
    const auto format_start = static_cast<std::uint32_t>(source_event + 51 + 2 * (rp / 64));
    VANTLE_EXCHANGE_MUST(timing, receive_row_timing(plan.receivers[i], 0));
    ASSERT_EQ(timing.mode, ReceiveMode::Paired64);
    ASSERT_EQ(timing.format_start_cycles, format_start);
    ASSERT_EQ(timing.pointer_cycles, format_start + 2);
    ASSERT_EQ(timing.format_end_cycles, format_start + count);
    VANTLE_EXCHANGE_MUST(early, topology.paired_receiver_is_early(receivers[i], source));
    if (early) {
      ASSERT_EQ(timing.source_cycles, static_cast<std::uint32_t>(source_event));
      ASSERT_EQ(timing.neutral_cycles, static_cast<std::uint32_t>(source_event) + count);
    } else {
      ASSERT_EQ(timing.source_cycles, std::nullopt);
      ASSERT_EQ(timing.neutral_cycles, std::nullopt);
    }
  }
}

}  // namespace

VANTLE_EXCHANGE_CHECK("tests", paired_send_matches_sdk_full_duplex_oracle) {
  const std::vector<ReceiveEvent> events = {
      {189, delay_xpic(0, 0, TILE_MUX_EXCHANGE), ReceiveEventKind::OrdinaryNeutral},
      {189, delay_pic(0, 0, 0x15000), ReceiveEventKind::Pointer},
  };
  VANTLE_EXCHANGE_MUST(pair, encode_send_control_pair(42, 0x14021, 1, events));
  ASSERT_EQ(pair.first, 0xF54A0109u);
  ASSERT_EQ(pair.payload, 0x19015000u);
}

VANTLE_EXCHANGE_CHECK("tests", paired_multicast64_matches_near_reverse_and_far_sdk_rows) {
  const Topology topology = Topology::dorn();
  const PairedCase cases[] = {{0, {2, 3}, 2}, {2, {0, 1}, 0}, {0, {46, 47}, 47}};
  for (const PairedCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "sender " << c.sender << " to " << c.receivers[0] << ", " << c.receivers[1]);
    VANTLE_EXCHANGE_MUST(plan, topology.paired_multicast(c.sender, c.receivers, 64));
    VANTLE_EXCHANGE_MUST_SUCCEED(patch_sender_address(plan.sender, 0x50000));
    for (Row& row : plan.receivers) {
      VANTLE_EXCHANGE_MUST_SUCCEED(patch_receiver_address(row, 0x60000));
    }
    if (c.sender == 0 && c.receivers == std::vector<std::uint16_t>{2, 3}) {
      ASSERT_EQ(plan.sender, (Row{0x41800003, 0x40A0001E, 0x7FE50005, 0x43A00000, 0, 0, 0, 0, 0}));
      ASSERT_EQ(plan.receivers[0], (Row{0x41800003, 0x64002000, 0x61A40001, 0x60098000, 0x64022640,
                                        0x61A40000, 0x40A00006, 0x43A00000, 0}));
      ASSERT_EQ(plan.receivers[1], (Row{0x41800003, 0x61AC0001, 0x60098000, 0x61EC0000, 0x40A00006,
                                        0x43A00000, 0, 0, 0}));
    }
    ASSERT_EQ(topology.paired_receiver_is_early(c.early_member, c.sender), true);
    ASSERT_EQ(topology.paired_receiver_is_early(c.early_member ^ 1, c.sender), false);

    PhaseProgramBuilder builder(1472);
    VANTLE_EXCHANGE_MUST(partner, topology.paired_logical(c.sender));
    const std::vector<std::uint16_t> reserved = {partner};
    VANTLE_EXCHANGE_MUST(
        offset, builder.earliest_transfer_offset(c.sender, reserved, c.receivers, plan, 64, 0));
    VANTLE_EXCHANGE_MUST_SUCCEED(
        builder.append_transfer_at(c.sender, reserved, c.receivers, plan, offset, 64));
    VANTLE_EXCHANGE_MUST(phase, std::move(builder).finish());
    ASSERT_TRUE(phase.programs[c.sender].has_value());
    ASSERT_TRUE(phase.programs[partner].has_value());
    for (const std::uint16_t receiver : c.receivers) {
      ASSERT_TRUE(phase.programs[receiver].has_value()) << receiver;
    }
  }
}

void paired_multicasts_preserve_route_relative_timing(std::uint64_t seed) {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(seed);
  const auto pairs = board_pairs(topology);
  for (const bool near : {true, false}) {
    for (int iteration = 0; iteration < 64; ++iteration) {
      const std::uint16_t source = random.u16(0, 1472);
      VANTLE_EXCHANGE_MUST(partner, topology.paired_logical(source));
      const std::uint32_t s = physical_of(topology, source);
      std::vector<std::pair<std::uint16_t, std::uint16_t>> candidates;
      for (const auto& pair : pairs) {
        const bool involves_sender = pair.first == source || pair.second == source ||
                                     pair.first == partner || pair.second == partner;
        const bool is_near = paired_time_to_mux(s, physical_of(topology, pair.first)) < 2;
        if (!involves_sender && is_near == near) {
          candidates.push_back(pair);
        }
      }
      random.shuffle(std::span(candidates));
      if (candidates.empty()) {
        continue;
      }
      const std::size_t n = random.size_inclusive(1, std::min<std::size_t>(12, candidates.size()));
      std::vector<std::uint16_t> receivers;
      for (std::size_t i = 0; i < n; ++i) {
        receivers.push_back(candidates[i].first);
        receivers.push_back(candidates[i].second);
      }
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", source " << source << ", " << n
                                      << (near ? " near" : " far") << " pairs");
      VANTLE_EXCHANGE_MUST(plan, topology.paired_multicast(source, receivers, 512));
      ASSERT_NO_FATAL_FAILURE(expect_route_relative_timing(topology, source, receivers, plan, 512));
    }
  }
}

VANTLE_EXCHANGE_CHECK("tests", randomized_paired_multicasts_preserve_route_relative_timing) {
  paired_multicasts_preserve_route_relative_timing(0x7061697265643634);
}

void coincident_paired_controls_are_rejected(std::uint64_t seed) {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(seed);
  int confirmed = 0;
  for (int attempt = 0; attempt < 10000 && confirmed < 64; ++attempt) {
    const std::uint16_t source = random.u16(0, 1472);
    const std::uint16_t receiver = random.u16(0, 1472);
    VANTLE_EXCHANGE_MUST(source_partner, topology.paired_logical(source));
    VANTLE_EXCHANGE_MUST(receiver_partner, topology.paired_logical(receiver));
    if (receiver > receiver_partner || source == receiver || source == receiver_partner ||
        source_partner == receiver || source_partner == receiver_partner) {
      continue;
    }
    const std::vector<std::uint16_t> receivers = {receiver, receiver_partner};
    std::optional<std::uint16_t> early_member;
    for (const std::uint16_t member : receivers) {
      VANTLE_EXCHANGE_MUST(early, topology.paired_receiver_is_early(member, source));
      if (early && !early_member) {
        early_member = member;
      }
    }
    ASSERT_TRUE(early_member.has_value()) << "no early member for " << receiver;
    const std::uint32_t ep = physical_of(topology, *early_member);
    const std::int32_t m = paired_time_to_mux(physical_of(topology, source), ep);
    const std::int64_t source_event = m + std::max<std::int64_t>(1 - std::int64_t{m}, 0);
    ASSERT_GE(source_event, 0);
    const std::int64_t format_start = source_event + 51 + 2 * (ep / 64);
    const std::int64_t count = format_start - source_event;
    if (count < 64) {
      continue;
    }
    // The early member's teardown would land on its format start.
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << source << " to " << receiver);
    VANTLE_EXCHANGE_MUST_FAIL_WITH(
        topology.paired_multicast(source, receivers, static_cast<std::uint32_t>(count)),
        ExchangeError::schedule(message::PAIRED_RECEIVE_COINCIDENT_CONTROLS));
    ++confirmed;
  }
  ASSERT_EQ(confirmed, 64);
}

VANTLE_EXCHANGE_CHECK("tests", randomized_coincident_paired_controls_are_rejected) {
  coincident_paired_controls_are_rejected(0x636F696E63696465);
}

}  // namespace vantle_exchange::tests
