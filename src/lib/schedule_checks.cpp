// Checks of the tile program schedule and the scheduled program encoder.

#include "schedule_checks.hpp"

#include <algorithm>
#include <ostream>
#include <vector>

#include "checks/check.hpp"
#include "checks/seeded_generator.hpp"
#include "plan_horizon_check.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/tile_schedule.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange::tests {
namespace {

constexpr std::uint32_t PIC_VALUE_MASK = 0x3FFFF;
constexpr std::uint32_t MUX_VALUE_MASK = 0x1FFF;

std::ostream& operator<<(std::ostream& out, const ControlSignature& signature) {
  return out << '(' << signature.kind << ", " << signature.operand << ')';
}

ReceiveEventKind mux_signature_kind(std::uint32_t mux_value) {
  return mux_value == TILE_MUX_EXCHANGE ? ReceiveEventKind::OrdinaryNeutral
                                        : ReceiveEventKind::OrdinarySource;
}

// A control as the tile sees it: when it takes effect and what it does.
struct TimedControl {
  std::uint32_t cycles;
  ControlSignature signature;

  friend bool operator==(const TimedControl&, const TimedControl&) = default;
  friend std::ostream& operator<<(std::ostream& out, const TimedControl& control) {
    return out << control.cycles << ':' << control.signature;
  }
};

std::uint16_t draw_other_tile(checks::SeededGenerator& random, const Topology& topology,
                              std::uint16_t other) {
  std::uint16_t tile = random.u16(0, topology.tile_count());
  while (tile == other) {
    tile = random.u16(0, topology.tile_count());
  }
  return tile;
}

// Places the sender at the earliest offset whose program can also be encoded: the schedule
// knows nothing of word parity, so when the SENDPICP pairs of the program cannot be aligned the
// search goes on from the next cycle, as the phase builder does.
void place_sender_where_it_encodes(TileProgramSchedule& schedule, const Row& sender,
                                   std::uint32_t& offset, std::vector<std::uint32_t>& program) {
  std::uint32_t requested = 0;
  for (int attempt = 0; attempt < 256; ++attempt) {
    VANTLE_EXCHANGE_MUST(found, schedule.earliest_sender_offset(sender, requested));
    TileProgramSchedule candidate = schedule;
    VANTLE_EXCHANGE_MUST_SUCCEED(candidate.append_sender_at(sender, found));
    auto encoded = candidate.finish();
    if (!encoded &&
        encoded.error() == ExchangeError::schedule(message::SENDPICP_INSTRUCTION_ALIGNMENT)) {
      requested = found + 1;
      continue;
    }
    ASSERT_TRUE(encoded.has_value()) << "finish failed with " << encoded.error();
    schedule = std::move(candidate);
    offset = found;
    program = *std::move(encoded);
    return;
  }
  FAIL() << "no encodable sender offset within 256 attempts";
}

// The controls a program delivers, in program order, and the payload words it sends inside
// the outgoing message [message_start, message_end) or by plain sends.
struct DeliveredControls {
  std::vector<TimedControl> controls;
  std::uint32_t sent_words = 0;
  std::uint32_t fused_carriers = 0;
};

DeliveredControls delivered_controls(const std::vector<std::uint32_t>& program,
                                     std::uint32_t message_start, std::uint32_t message_end) {
  DeliveredControls delivered;
  std::uint32_t cycles = 0;
  for (std::size_t i = 0; i < program.size(); ++i) {
    const std::uint32_t word = program[i];
    const std::uint32_t before = cycles;
    const std::uint32_t advance = instruction_advance(word);
    cycles += advance;
    const bool in_message = message_start <= before && before < message_end;
    if (is_delay_pic(word) || is_delay_xpic(word)) {
      delivered.controls.push_back({cycles, receive_control_signature(word)});
    } else if (is_send_control(word)) {
      ++delivered.fused_carriers;
      delivered.controls.push_back({before + 1, send_control_signature(word)});
      delivered.sent_words += in_message ? advance : 0;
    } else if (is_send_control_pair(word) && i + 1 < program.size()) {
      ++delivered.fused_carriers;
      const std::uint32_t payload = program[++i];
      const std::uint32_t mux_value = payload >> 18;
      delivered.controls.push_back(
          {before + 1, {ReceiveEventKind::Pointer, payload & PIC_VALUE_MASK}});
      delivered.controls.push_back({before + 1, {mux_signature_kind(mux_value), mux_value}});
      delivered.sent_words += in_message ? advance : 0;
    } else if (is_payload_send(word)) {
      delivered.sent_words += advance;
    }
  }
  return delivered;
}

// Receive controls of a program, whatever instruction carries them.
struct ControlCounts {
  std::uint32_t xpic = 0;
  std::uint32_t pic = 0;
  std::uint32_t neutral = 0;
};

ControlCounts count_controls(const std::vector<std::uint32_t>& program) {
  ControlCounts counts;
  const auto count_mux = [&](std::uint32_t mux_value) {
    ++counts.xpic;
    counts.neutral += mux_value == TILE_MUX_EXCHANGE ? 1 : 0;
  };
  for (std::size_t i = 0; i < program.size(); ++i) {
    const std::uint32_t word = program[i];
    if (is_delay_xpic(word)) {
      count_mux(word & MUX_VALUE_MASK);
    } else if (is_delay_pic(word)) {
      ++counts.pic;
    } else if (is_send_control(word)) {
      const ControlSignature signature = send_control_signature(word);
      if (signature.kind == ReceiveEventKind::Pointer) {
        ++counts.pic;
      } else {
        count_mux(signature.operand);
      }
    } else if (is_send_control_pair(word) && i + 1 < program.size()) {
      const std::uint32_t payload = program[++i];
      ++counts.pic;
      count_mux((payload >> 18) & MUX_VALUE_MASK);
    }
  }
  return counts;
}

}  // namespace

ControlSignature receive_control_signature(std::uint32_t instruction) {
  if ((instruction & OPCODE_MASK) == DELAY_PIC_OPCODE) {
    return {ReceiveEventKind::Pointer, instruction & PIC_VALUE_MASK};
  }
  const std::uint32_t operand = instruction & MUX_VALUE_MASK;
  return {mux_signature_kind(operand), operand};
}

ControlSignature send_control_signature(std::uint32_t instruction) {
  const std::uint32_t selector = (instruction >> 18) & 3;
  if (selector >= 2) {
    return {ReceiveEventKind::Pointer, instruction & PIC_VALUE_MASK};
  }
  const std::uint32_t operand = instruction & MUX_VALUE_MASK;
  return {mux_signature_kind(operand), operand};
}

VANTLE_EXCHANGE_CHECK("tests", encoder_places_receive_then_send_on_one_event_timeline) {
  // A relay tile receives a message, then sends one on.
  const Topology topology = Topology::dorn();
  VANTLE_EXCHANGE_MUST(first, topology.multicast(0, {736}, 64, 0));
  std::uint32_t first_horizon = 0;
  ASSERT_NO_FATAL_FAILURE(plan_horizon(first, first_horizon));
  VANTLE_EXCHANGE_MUST(second, topology.multicast(736, {1286}, 64, first_horizon + 1));
  std::uint32_t horizon = 0;
  ASSERT_NO_FATAL_FAILURE(plan_horizon(second, horizon));

  TileProgramSchedule relay;
  VANTLE_EXCHANGE_MUST_SUCCEED(relay.append_receiver_at(first.receivers[0], 0, 64));
  VANTLE_EXCHANGE_MUST(offset, relay.earliest_sender_offset(second.sender, 0));
  VANTLE_EXCHANGE_MUST_SUCCEED(relay.append_sender_at(second.sender, offset));
  const std::uint32_t relay_horizon = relay.event_cycles();
  VANTLE_EXCHANGE_MUST(program, relay.finish());

  ASSERT_EQ(program.back(), RETURN_INSTRUCTION);
  ASSERT_EQ(std::ranges::count(program, ROW_ENTRY_INSTRUCTION), 0);
  ASSERT_EQ(plan_event_cycles(program), relay_horizon);
  ASSERT_LE(relay_horizon, horizon);
}

void internal_receives_leave_the_neutral_mux_selected(std::uint64_t seed) {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(seed);
  for (int iteration = 0; iteration < 128; ++iteration) {
    const std::uint16_t source = random.u16(0, topology.tile_count());
    const std::size_t receiver_count = random.size_inclusive(1, 4);
    std::vector<std::uint16_t> receivers;
    while (receivers.size() < receiver_count) {
      const std::uint16_t candidate = random.u16(0, topology.tile_count());
      if (candidate != source && std::ranges::count(receivers, candidate) == 0) {
        receivers.push_back(candidate);
      }
    }
    const std::uint32_t count = random.u32_inclusive(1, 4148);
    SCOPED_TRACE(testing::Message()
                 << "seed " << seed << ", " << source << " sends " << count << " words");
    VANTLE_EXCHANGE_MUST(plan, topology.multicast(source, receivers, count, 0));
    for (const Row& row : plan.receivers) {
      ASSERT_TRUE(std::any_of(row.begin() + 2, row.end(), [](std::uint32_t word) {
        return (word & OPCODE_MASK) == DELAY_XPIC_OPCODE && (word & 0x1FFF) == TILE_MUX_EXCHANGE;
      }));
    }
  }
}

VANTLE_EXCHANGE_CHECK("tests", randomized_internal_receives_leave_the_neutral_mux_selected) {
  internal_receives_leave_the_neutral_mux_selected(0x006E65757472616C);
}

void mixed_role_programs_fuse_receive_controls_into_sends(std::uint64_t seed) {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(seed);
  std::uint32_t fused_programs = 0;
  for (int iteration = 0; iteration < 256; ++iteration) {
    const std::uint16_t tile = random.u16(0, topology.tile_count());
    const std::uint16_t incoming_source = draw_other_tile(random, topology, tile);
    const std::uint16_t outgoing_destination = draw_other_tile(random, topology, tile);
    const std::uint32_t words = random.u32_inclusive(2, 256);
    SCOPED_TRACE(testing::Message()
                 << "seed " << seed << ", tile " << tile << " receives from " << incoming_source
                 << " and sends to " << outgoing_destination << ", " << words << " words");

    VANTLE_EXCHANGE_MUST(incoming_plan, topology.multicast(incoming_source, {tile}, words, 0));
    Row incoming = incoming_plan.receivers[0];
    VANTLE_EXCHANGE_MUST_SUCCEED(
        patch_receiver_address(incoming, 0x50000 + 4 * random.u32(0, 4096)));
    VANTLE_EXCHANGE_MUST(outgoing_plan, topology.multicast(tile, {outgoing_destination}, words, 0));
    const Row& outgoing = outgoing_plan.sender;

    TileProgramSchedule schedule;
    VANTLE_EXCHANGE_MUST_SUCCEED(schedule.append_receiver_at(incoming, 0, words));
    std::uint32_t sender_offset = 0;
    std::vector<std::uint32_t> program;
    ASSERT_NO_FATAL_FAILURE(
        place_sender_where_it_encodes(schedule, outgoing, sender_offset, program));
    ASSERT_EQ(plan_event_cycles(program), schedule.event_cycles());

    VANTLE_EXCHANGE_MUST(base, receive_row_timing(incoming, 0));
    VANTLE_EXCHANGE_MUST(window, scheduled_receive_window(base, 0, words, std::nullopt));
    std::vector<TimedControl> expected;
    for (const ReceiveEvent& event : window.events) {
      expected.push_back({event.cycles, receive_control_signature(event.instruction)});
    }
    VANTLE_EXCHANGE_MUST(outgoing_timing, sender_row_timing(outgoing, sender_offset));
    const DeliveredControls delivered =
        delivered_controls(program, outgoing_timing.start_cycles, outgoing_timing.end_cycles);
    fused_programs += delivered.fused_carriers;

    ASSERT_EQ(delivered.controls, expected);
    ASSERT_EQ(delivered.sent_words, words);
    ASSERT_EQ(std::ranges::count_if(program, [](std::uint32_t word) { return is_send(word); }), 1);
  }
  ASSERT_GT(fused_programs, 0u);
}

VANTLE_EXCHANGE_CHECK("tests", randomized_mixed_role_programs_fuse_receive_controls_into_sends) {
  mixed_role_programs_fuse_receive_controls_into_sends(0x0073656E64706963);
}

void receiver_streams_schedule_source_and_pointer_cutovers(std::uint64_t seed) {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(seed);
  for (int iteration = 0; iteration < 128; ++iteration) {
    const std::uint16_t receiver = random.u16(0, topology.tile_count());
    const std::uint32_t transfers = random.u32_inclusive(2, 12);
    const std::uint32_t words = random.u32_inclusive(53, 512);
    std::uint32_t address = 0x50000 + 4 * random.u32_inclusive(0, 8192);
    std::uint32_t pointer_writes = 1;
    // A stream whose source does not land on the previous stream's source end leaves that
    // stream its own teardown.
    std::uint32_t kept_teardowns = 0;
    TileProgramSchedule schedule;
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", receiver " << receiver << ", "
                                    << transfers << " transfers of " << words << " words");

    for (std::uint32_t i = 0; i < transfers; ++i) {
      const std::uint16_t source = draw_other_tile(random, topology, receiver);
      const bool has_address_gap = i != 0 && random.boolean();
      if (has_address_gap) {
        address += 4 * random.u32_inclusive(1, 16);
        ++pointer_writes;
      }
      VANTLE_EXCHANGE_MUST(plan, topology.multicast(source, {receiver}, words, 0));
      Row row = plan.receivers[0];
      VANTLE_EXCHANGE_MUST_SUCCEED(patch_receiver_address(row, address));
      VANTLE_EXCHANGE_MUST(offset, schedule.earliest_receiver_offset(row, words, 0));
      const auto previous = schedule.receive_stream();
      VANTLE_EXCHANGE_MUST(window, schedule.append_receiver_at(row, offset, words));
      if (previous && window.source_start != previous->source_end_cycles) {
        ++kept_teardowns;
      }
      address += 4 * words;
    }

    const std::uint32_t expected_cycles = schedule.event_cycles();
    VANTLE_EXCHANGE_MUST(program, schedule.finish());
    ASSERT_EQ(plan_event_cycles(program), expected_cycles);
    const ControlCounts counts = count_controls(program);
    ASSERT_EQ(counts.neutral, 1 + kept_teardowns);
    ASSERT_EQ(counts.xpic, transfers + 1 + kept_teardowns);
    ASSERT_EQ(counts.pic, pointer_writes);
  }
}

VANTLE_EXCHANGE_CHECK("tests", randomized_receiver_streams_schedule_source_and_pointer_cutovers) {
  receiver_streams_schedule_source_and_pointer_cutovers(0x6D75785F6375746F);
}

}  // namespace vantle_exchange::tests
