#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "checks/seeded_generator.hpp"
#include "test_support.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/tile_schedule.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

using testing_support::hex_words;
using Words = std::vector<std::uint32_t>;
using Kind = ReceiveEventKind;
constexpr std::uint32_t ENTRY = ROW_ENTRY_INSTRUCTION;
constexpr std::uint32_t RET = RETURN_INSTRUCTION;

std::unexpected<ExchangeError> fails(std::string_view message) {
  return std::unexpected(ExchangeError::schedule(message));
}

// Payload [31, 95), horizon 95.
const Row S = {ENTRY, delay(30), 0x7FE20001, RET, 0, 0, 0, 0, 0};

// Selects mux value 5 at cycle 10, sets the pointer to word address p at 12, tears the mux down
// at 76 (moved to the end of the received words when placed).
Row R(std::uint32_t p) {
  return {ENTRY, 0x64024005, 0x60080000 + p, 0x640FC640, RET, 0, 0, 0, 0};
}

TEST(TileProgramSchedule, FreshScheduleHasNothingToDo) {
  const TileProgramSchedule schedule;
  EXPECT_EQ(schedule.earliest_sender_offset(S, 7), 7u);
  EXPECT_EQ(schedule.event_cycles(), 0u);
  EXPECT_EQ(schedule.finish(), Words{RET});
}

TEST(TileProgramSchedule, MessagesNeverOverlap) {
  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_sender_at(S, 0));
  EXPECT_EQ(schedule.senders(), (std::vector<ScheduledSenderRow>{{S, 31, 95}}));
  EXPECT_EQ(schedule.event_cycles(), 95u);
  // Touching intervals do not overlap.
  EXPECT_EQ(schedule.earliest_sender_offset(S, 0), 64u);
  const TileProgramSchedule before = schedule;
  EXPECT_EQ(schedule.append_sender_at(S, 10), fails("overlapping outgoing messages"));
  EXPECT_EQ(schedule, before);
  ASSERT_TRUE(schedule.append_sender_at(S, 64));
  EXPECT_EQ(schedule.finish(), (Words{0x40A0001E, 0x7FE20001, 0x7FE20001, RET}));
}

TEST(TileProgramSchedule, AMessageWithoutRouteIsNotEmitted) {
  // Its SEND has send control 0: a program that sent it would not send the scheduled payload.
  const Row nowhere = {ENTRY, delay(30), 0x7FE20000, RET, 0, 0, 0, 0, 0};
  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_sender_at(nowhere, 0));
  EXPECT_EQ(schedule.finish(), fails("send control"));
}

TEST(TileProgramSchedule, MessagesKeepReceiveControlsOffTheirFirstTwoCycles) {
  // One receive whose source selection lands on cycle 40 and whose other controls lie far away.
  const Row receiver = {
      ENTRY, delay_xpic(39, 0, 5), delay_xpic(0, 0, 1600), delay_pic(127, 0, 9), RET, 0, 0, 0, 0};
  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_receiver_at(receiver, 0, 200));
  EXPECT_EQ(schedule.earliest_sender_offset(S, 8), 10u);
  const TileProgramSchedule before = schedule;
  EXPECT_EQ(schedule.append_sender_at(S, 9), fails("unencodable initial send control"));
  EXPECT_EQ(schedule.append_sender_at(S, 8), fails("unencodable initial send control"));
  EXPECT_EQ(schedule, before);
  ASSERT_TRUE(schedule.append_sender_at(S, 10));

  // A later receive search steps over the message's first two cycles: the source selection of
  // this row would land on 41 at offset 1, and on 42 at offset 2.
  TileProgramSchedule sender_first;
  ASSERT_TRUE(sender_first.append_sender_at(S, 10));
  EXPECT_EQ(sender_first.earliest_receiver_offset(receiver, 200, 1), 3u);
}

TEST(TileProgramSchedule, ReceiveStreamsCutOverSourceAndPointer) {
  TileProgramSchedule schedule;
  const auto first = schedule.append_receiver_at(R(0x14000), 0, 64);
  ASSERT_TRUE(first) << first.error();
  std::vector<std::pair<std::uint32_t, Kind>> placed;
  for (const ReceiveEvent& event : schedule.receive_events()) {
    placed.emplace_back(event.cycles, event.kind);
  }
  EXPECT_EQ(placed,
            (std::vector<std::pair<std::uint32_t, Kind>>{
                {10, Kind::OrdinarySource}, {12, Kind::Pointer}, {74, Kind::OrdinaryNeutral}}));
  EXPECT_EQ(schedule.event_cycles(), 76u);
  EXPECT_EQ(schedule.receive_stream(), (ReceiveStream{0x50100, 74, 76, ReceiveMode::Ordinary}));

  // Continuing at the next address: the teardown at 74 becomes the next source selection and
  // the open pointer is reused.
  TileProgramSchedule continued = schedule;
  ASSERT_EQ(continued.earliest_receiver_offset(R(0x14040), 64, 0), 64u);
  ASSERT_TRUE(continued.append_receiver_at(R(0x14040), 64, 64));
  EXPECT_EQ(continued.event_cycles(), 140u);
  EXPECT_EQ(hex_words(*continued.finish()),
            hex_words(Words{0x64024005, 0x60094000, 0x640F4005, 0x640FC640, 0x40A00001, RET}));

  // With an address gap the new pointer write stays.
  TileProgramSchedule gapped = schedule;
  ASSERT_EQ(gapped.earliest_receiver_offset(R(0x14050), 64, 0), 64u);
  ASSERT_TRUE(gapped.append_receiver_at(R(0x14050), 64, 64));
  EXPECT_EQ(hex_words(*gapped.finish()), hex_words(Words{0x64024005, 0x60094000, 0x640F4005,
                                                         0x60094050, 0x640F4640, 0x40A00001, RET}));

  const TileProgramSchedule before = schedule;
  EXPECT_EQ(schedule.append_receiver_at(R(0x14040), 63, 64), fails("overlapping receive streams"));
  EXPECT_EQ(schedule, before);
}

TEST(TileProgramSchedule, StreamAddressesAdvanceByTheItemSize) {
  TileProgramSchedule ordinary;
  ASSERT_TRUE(ordinary.append_receiver_at(R(0x100), 0, 10));
  EXPECT_EQ(ordinary.receive_stream()->next_address, 0x400u + 40);

  // A paired receive writes 8 bytes per item.
  const Row paired = {ENTRY, 0x61AC0001, delay_pic(1, 0, 0x100), 0x61EC0000, 0x40A00006, RET, 0,
                      0,     0};
  TileProgramSchedule wide;
  ASSERT_TRUE(wide.append_receiver_at(paired, 0, 10));
  EXPECT_EQ(wide.receive_stream()->next_address, 0x400u + 80);
  EXPECT_EQ(wide.receive_stream()->mode, ReceiveMode::Paired64);

  const Row pointerless = {ENTRY, delay_xpic(3, 0, 5), delay_xpic(3, 0, 1600), RET, 0, 0, 0, 0, 0};
  TileProgramSchedule none;
  EXPECT_EQ(none.append_receiver_at(pointerless, 0, 1), fails("receive pointer event"));
  EXPECT_EQ(none, TileProgramSchedule{});

  const Row high = {ENTRY, 0x64024005, 0x60080000 + 0x3FFFF, 0x640FC640, RET, 0, 0, 0, 0};
  EXPECT_EQ(none.append_receiver_at(high, 0, 0x3FFF0000), fails("receive address overflow"));
  EXPECT_EQ(none, TileProgramSchedule{});
}

TEST(TileProgramSchedule, SearchFindsAnOffsetThatPlacementAccepts) {
  // A 52-word row sets its pointer one cycle earlier, relative to its source, than a row of 53
  // words or more; continuing a 64-word stream at the next address it must still start its
  // payload after the open stream's payload has ended.
  const Topology topology = Topology::dorn();
  auto first = topology.multicast(0, {100}, 64, 0);
  auto second = topology.multicast(5, {100}, 52, 0);
  ASSERT_TRUE(first && second);
  Row first_row = first->receivers[0];
  Row second_row = second->receivers[0];
  ASSERT_TRUE(patch_receiver_address(first_row, 0x50000));
  ASSERT_TRUE(patch_receiver_address(second_row, 0x50000 + 64 * 4));

  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_receiver_at(first_row, 0, 64));
  const ReceiveStream open = *schedule.receive_stream();
  const auto offset = schedule.earliest_receiver_offset(second_row, 52, 0);
  ASSERT_TRUE(offset) << offset.error();
  const auto window = schedule.append_receiver_at(second_row, *offset, 52);
  ASSERT_TRUE(window) << window.error();
  EXPECT_EQ(window->payload_start, open.pointer_end_cycles);
  EXPECT_TRUE(std::ranges::none_of(window->events, [](const ReceiveEvent& event) {
    return event.kind == Kind::Pointer;
  })) << "the open pointer is reused";
  ASSERT_TRUE(schedule.finish());
}

TEST(TileProgramSchedule, TeardownAndPointerOnOneCycleShareAPair) {
  // Into physical 64 (row 1) the pointer write of a 54-word receive lands on its teardown.
  const Topology topology = Topology::dorn();
  ASSERT_EQ(topology.physical(2), 64);
  auto plan = topology.multicast(0, {2}, 54, 0);
  ASSERT_TRUE(plan);
  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_receiver_at(plan->receivers[0], 0, 54));
  const auto program = schedule.finish();
  ASSERT_TRUE(program) << program.error();
  const auto pair = std::ranges::find_if(*program, is_send_control_pair);
  ASSERT_NE(pair, program->end()) << hex_words(*program);
  const std::uint32_t payload = *(pair + 1);
  EXPECT_EQ((payload >> 18) & 0x1FFF, TILE_MUX_EXCHANGE);
  EXPECT_EQ(payload & 0x3FFFF, 0x14000u);
  EXPECT_EQ((pair - program->begin()) % 2, 0);
  EXPECT_EQ(std::ranges::count_if(*program, is_neutral_mux_teardown), 0);
}

// ---------------------------------------------------------------------------------------------
// Random transfers on one tile
// ---------------------------------------------------------------------------------------------

struct RandomTile {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random;
  std::uint16_t tile;

  explicit RandomTile(std::uint64_t seed) : random(seed), tile(random.u16(0, 1472)) {}

  std::uint16_t other_tile() {
    std::uint16_t other = random.u16(0, topology.tile_count());
    while (other == tile) {
      other = random.u16(0, topology.tile_count());
    }
    return other;
  }

  // The receiver row of a multicast from another tile into this one, or a sender row from this
  // one, with a random address.
  Row receiver_row(std::uint32_t words) {
    std::vector<std::uint16_t> receivers = {tile};
    if (random.boolean()) {
      const std::uint16_t another = other_tile();
      receivers.push_back(another);
    }
    std::uint16_t source = other_tile();
    while (std::ranges::count(receivers, source) != 0) {
      source = other_tile();
    }
    auto plan = topology.multicast(source, receivers, words, random.u32(0, 40));
    Row row = plan->receivers[0];
    (void)patch_receiver_address(row, 4 * random.u32(0x14000, 0x3FFFF));
    return row;
  }

  Row sender_row(std::uint32_t words) {
    auto plan = topology.multicast(tile, {other_tile()}, words, random.u32(0, 40));
    Row row = plan->sender;
    (void)patch_sender_address(row, 4 * random.u32(0, 0x30000));
    return row;
  }
};

void expect_well_formed(const Words& program, std::uint32_t event_cycles) {
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.back(), RET);
  EXPECT_EQ(std::ranges::count(program, RET), 1) << hex_words(program);
  EXPECT_EQ(std::ranges::count(program, ENTRY), 0);
  EXPECT_EQ(plan_event_cycles(program), event_cycles);
  for (std::size_t i = 0; i < program.size(); ++i) {
    if (is_send_control_pair(program[i])) {
      EXPECT_EQ(i % 2, 0u) << "SENDPICP at odd index " << i << " of " << hex_words(program);
      ++i;
    }
  }
}

Status place(TileProgramSchedule& schedule, bool sends, const Row& row, std::uint32_t offset,
             std::uint32_t words) {
  if (sends) {
    return schedule.append_sender_at(row, offset);
  }
  const auto window = schedule.append_receiver_at(row, offset, words);
  return window ? Status() : std::unexpected(window.error());
}

// Places rows through the searches, moving on by one cycle whenever the program could not align
// a SENDPICP pair, and checks every program on the way.
void place_random_transfers(std::uint64_t seed) {
  RandomTile t(seed);
  TileProgramSchedule schedule;
  for (int transfer = 0; transfer < 24; ++transfer) {
    const std::uint32_t words = t.random.u32_inclusive(1, 300);
    const bool sends = t.random.boolean();
    const Row row = sends ? t.sender_row(words) : t.receiver_row(words);
    std::uint32_t requested = t.random.u32(0, 400);
    for (int attempt = 0;; ++attempt) {
      ASSERT_LT(attempt, 256) << "no encodable offset";
      const auto offset = sends ? schedule.earliest_sender_offset(row, requested)
                                : schedule.earliest_receiver_offset(row, words, requested);
      ASSERT_TRUE(offset) << offset.error();
      TileProgramSchedule candidate = schedule;
      const Status placed = place(candidate, sends, row, *offset, words);
      ASSERT_TRUE(placed) << placed.error() << " at searched offset " << *offset;
      const auto program = candidate.finish();
      if (!program &&
          program.error() == ExchangeError::schedule("SENDPICP instruction alignment")) {
        requested = *offset + 1;
        continue;
      }
      ASSERT_TRUE(program) << program.error();
      ASSERT_NO_FATAL_FAILURE(expect_well_formed(*program, candidate.event_cycles()));
      schedule = std::move(candidate);
      break;
    }
  }
}

TEST(TileProgramSchedule, RandomTransfersGiveWellFormedPrograms) {
  for (std::uint64_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    ASSERT_NO_FATAL_FAILURE(place_random_transfers(seed));
  }
}

TEST(TileProgramSchedule, FailedOperationsLeaveTheScheduleAsItWas) {
  RandomTile t(7);
  TileProgramSchedule schedule;
  int failures = 0;
  for (int step = 0; step < 400; ++step) {
    const std::uint32_t words = t.random.u32_inclusive(1, 300);
    const bool sends = t.random.boolean();
    const Row row = sends ? t.sender_row(words) : t.receiver_row(words);
    const std::uint32_t offset = t.random.u32(0, 3000);
    const TileProgramSchedule before = schedule;
    if (!place(schedule, sends, row, offset, words)) {
      ++failures;
      ASSERT_EQ(schedule, before);
    }
    const TileProgramSchedule searched = schedule;
    (void)schedule.earliest_sender_offset(row, 0xFFFFFF00);
    (void)schedule.earliest_receiver_offset(row, words, 0xFFFFFF00);
    ASSERT_EQ(schedule, searched);
  }
  EXPECT_GT(failures, 100);
}

}  // namespace
}  // namespace vantle_exchange
