#include <gtest/gtest.h>

#include <vector>

#include "test_support.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/plan.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

using testing_support::hex_words;

class PlanTest : public testing::Test {
 protected:
  const Topology topology = Topology::dorn();
};

// ---------------------------------------------------------------------------------------------
// Point-to-point
// ---------------------------------------------------------------------------------------------

TEST_F(PlanTest, PointToPointSenderRowsAroundTheDelayLimits) {
  struct Case {
    std::uint16_t sender;
    std::uint16_t receiver;
    std::uint32_t count;
    Row sender_row;
    std::uint32_t cycles;
  };
  const Case cases[] = {
      // mux_time 112: sender_delay -1, no leading delay, a trailing delay of 5 cycles.
      {780, 0, 1, {0x41800003, 0x78000002, 0x40A00004, 0x43A00000, 0, 0, 0, 0, 0}, 6},
      // mux_time 110: a one-cycle... two-cycle leading delay and a trailing delay of 3.
      {778, 0, 1, {0x41800003, 0x40A00001, 0x78000002, 0x40A00002, 0x43A00000, 0, 0, 0, 0}, 6},
      {0, 1286, 3, {0x41800003, 0x40A00086, 0x78400001, 0x43A00000, 0, 0, 0, 0, 0}, 138},
  };
  for (const Case& c : cases) {
    const auto plan = topology.point_to_point(c.sender, c.receiver, c.count);
    ASSERT_TRUE(plan) << plan.error();
    EXPECT_EQ(hex_words(plan->sender), hex_words(c.sender_row)) << c.sender;
    EXPECT_EQ(plan_event_cycles(plan->sender), c.cycles) << c.sender;
  }
}

TEST_F(PlanTest, PointToPointReceiverTimingForEveryCountClass) {
  // Receiver physical 53 is in row 0, so receiver_phase is 0.
  struct Case {
    std::uint32_t count;
    std::uint32_t cycles;
  };
  for (const Case c :
       {Case{1, 171}, Case{51, 221}, Case{52, 222}, Case{53, 223}, Case{4148, 4318}}) {
    const auto plan = topology.point_to_point(0, 1286, c.count);
    ASSERT_TRUE(plan) << plan.error();
    EXPECT_EQ(plan_event_cycles(plan->receiver), c.cycles) << c.count;
    EXPECT_EQ(plan->receiver[0], 1u);
  }
}

TEST_F(PlanTest, PointToPointFailuresInTheirOrder) {
  struct Case {
    std::uint16_t sender;
    std::uint16_t receiver;
    std::uint32_t count;
    ExchangeError error;
  };
  const Case cases[] = {
      {0, 1, 0, ExchangeError::count(0)},
      {0, 1, 4149, ExchangeError::count(4149)},
      {1472, 1472, 0, ExchangeError::count(0)},  // the count is tested first
      {5, 5, 1, ExchangeError::duplicate_tile()},
      {2000, 2000, 1, ExchangeError::duplicate_tile()},  // even out of range
      {1472, 1473, 1, ExchangeError::tile(1472)},        // the sender is looked up first
      {0, 1472, 1, ExchangeError::tile(1472)},
      {0xFFFF, 0, 1, ExchangeError::tile(0xFFFF)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(topology.point_to_point(c.sender, c.receiver, c.count), std::unexpected(c.error))
        << c.sender << " -> " << c.receiver << ", " << c.count;
  }
}

// ---------------------------------------------------------------------------------------------
// Multicast
// ---------------------------------------------------------------------------------------------

TEST_F(PlanTest, MulticastReferenceRows) {
  struct Case {
    std::uint16_t sender;
    std::vector<std::uint16_t> receivers;
    std::uint32_t count;
    std::uint32_t offset;
    Row sender_row;
    std::vector<Row> receiver_rows;
  };
  const Row short_receiver = {0x41800003, 0x64000000, 0x64008640, 0x61814000, 0x40A00007,
                              0x43A00000, 0,          0,          0};
  const Case cases[] = {
      {0,
       {274, 1286},
       3,
       0,
       {0x41800003, 0x40A00016, 0x78400003, 0x43A00000, 0, 0, 0, 0, 0},
       {short_receiver, short_receiver}},
      {736,
       {100, 900},
       52,
       0,
       {0x41800003, 0x40A00021, 0x7E600003, 0x43A00000, 0, 0, 0, 0, 0},
       {{0x41800003, 0x6414C020, 0x61D14000, 0x64000640, 0x40A00038, 0x43A00000, 0, 0, 0},
        {0x41800003, 0x64000020, 0x62214000, 0x64000640, 0x40A00038, 0x43A00000, 0, 0, 0}}},
      {0,
       {274},
       65,
       0,
       {0x41800003, 0x40A00016, 0x7FE00001, 0x70000001, 0x43A00000, 0, 0, 0, 0},
       {{0x41800003, 0x64000000, 0x61994000, 0x64030640, 0x40A00038, 0x43A00000, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    const auto plan = topology.multicast(c.sender, c.receivers, c.count, c.offset);
    ASSERT_TRUE(plan) << plan.error();
    EXPECT_EQ(hex_words(plan->sender), hex_words(c.sender_row)) << c.sender;
    ASSERT_EQ(plan->receivers.size(), c.receiver_rows.size());
    for (std::size_t i = 0; i < c.receiver_rows.size(); ++i) {
      EXPECT_EQ(hex_words(plan->receivers[i]), hex_words(c.receiver_rows[i]))
          << c.sender << " receiver " << i;
    }
  }
}

TEST_F(PlanTest, MulticastRowLengthsFollowCountAndRoute) {
  for (const auto& [count, horizon] : {std::pair{1u, 78u}, std::pair{1024u, 1101u}}) {
    const auto plan = topology.multicast(0, {736, 1286}, count, 0);
    ASSERT_TRUE(plan) << plan.error();
    std::uint32_t longest = *plan_event_cycles(plan->sender);
    for (const Row& row : plan->receivers) {
      longest = std::max(longest, *plan_event_cycles(row));
    }
    EXPECT_EQ(longest, horizon) << count;
  }
  const auto plan = topology.multicast(0, {736, 1286}, 1, 0);
  EXPECT_EQ(plan_event_cycles(plan->receivers[0]), 78u);
  EXPECT_EQ(plan_event_cycles(plan->receivers[1]), 59u);
}

TEST_F(PlanTest, MulticastCycleLimits) {
  const auto latest = topology.multicast(0, {274, 1286}, 3, 4072);
  ASSERT_TRUE(latest) << latest.error();
  EXPECT_EQ(latest->sender[1], 0x40A00FFEu);
  EXPECT_EQ(latest->receivers[0][1], 0x67FA0000u);

  const auto latest_receive = topology.multicast(736, {100, 900}, 52, 4012);
  ASSERT_TRUE(latest_receive) << latest_receive.error();
  EXPECT_EQ(latest_receive->receivers[0][1], 0x67FFC020u);

  const auto start = std::unexpected(ExchangeError::schedule("multicast start cycle"));
  EXPECT_EQ(topology.multicast(0, {274, 1286}, 3, 4073), start);
  EXPECT_EQ(topology.multicast(0, {274, 1286}, 3, 0xFFFFFFFF), start);
  EXPECT_EQ(topology.multicast(736, {100, 900}, 52, 4013),
            std::unexpected(ExchangeError::schedule("multicast receive cycle")));
}

TEST_F(PlanTest, MulticastFailuresInTheirOrder) {
  struct Case {
    std::uint16_t sender;
    std::vector<std::uint16_t> receivers;
    std::uint32_t count;
    ExchangeError error;
  };
  const Case cases[] = {
      {0, {1, 1}, 1, ExchangeError::receiver_set()},
      {0, {0}, 1, ExchangeError::receiver_set()},
      {0, {}, 1, ExchangeError::receiver_set()},
      {0, {1472}, 1, ExchangeError::receiver_set()},
      {0, {1, 2, 0xFFFF}, 1, ExchangeError::receiver_set()},
      {1472, {0}, 1, ExchangeError::tile(1472)},
      {1472, {}, 1, ExchangeError::tile(1472)},  // the sender is tested before the receivers
      {0, {1}, 0, ExchangeError::count(0)},
      {1472, {}, 4149, ExchangeError::count(4149)},  // the count is tested first
  };
  for (const Case& c : cases) {
    EXPECT_EQ(topology.multicast(c.sender, c.receivers, c.count, 0), std::unexpected(c.error))
        << c.sender << " to " << c.receivers.size() << " receivers";
  }
}

TEST_F(PlanTest, MulticastToTheWholeBoard) {
  std::vector<std::uint16_t> receivers;
  for (std::uint16_t logical = 1; logical < topology.tile_count(); ++logical) {
    receivers.push_back(logical);
  }
  const auto plan = topology.multicast(0, receivers, 4148, 0);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_EQ(plan->receivers.size(), receivers.size());
  // A send to several receivers goes both ways.
  EXPECT_EQ(plan->sender[2] & 7, 3u);
}

// ---------------------------------------------------------------------------------------------
// Patching
// ---------------------------------------------------------------------------------------------

TEST_F(PlanTest, PatchesSenderAndReceiverAddresses) {
  auto plan = topology.multicast(0, {274}, 65, 0);
  ASSERT_TRUE(plan) << plan.error();
  ASSERT_TRUE(patch_sender_address(plan->sender, 0x52040));
  EXPECT_EQ(plan->sender[2], 0x7FEA4081u);
  EXPECT_EQ(plan->sender[3], 0x70000001u) << "the SENDOFF word keeps its address";

  Row& receiver = plan->receivers[0];
  ASSERT_TRUE(patch_receiver_address(receiver, 0x53080));
  EXPECT_EQ(receiver[2], 0x61994C20u);
  ASSERT_TRUE(patch_receiver_address(receiver, 0x8F000));
  EXPECT_EQ(receiver[2] & 0x3FFFF, 0x23C00u);
}

TEST_F(PlanTest, FailedPatchesLeaveTheRowAsItWas) {
  const auto plan = topology.multicast(0, {274}, 65, 0);
  ASSERT_TRUE(plan) << plan.error();
  struct Case {
    const char* text;
    Status (*patch)(Row&, std::uint32_t);
    const Row* row;
    std::uint32_t address;
    ExchangeError error;
  };
  const Row no_send = {0x41800003, 0x40A00005, 0x70000001, 0x43A00000, 0, 0, 0, 0, 0};
  const Row no_pointer = {0x41800003, 0x64000000, 0x62040000, 0x43A00000, 0, 0, 0, 0, 0};
  const Row truncated_pair = {0x41800003, 0, 0, 0, 0, 0, 0, 0, 0xF0E00003};
  const Row selector_pair_then_nothing = {0x41800003, 0xF8E00003, 0x61800000, 0x43A00000, 0,
                                          0,          0,          0,          0};
  const Case cases[] = {
      {"sender misaligned", patch_sender_address, &plan->sender, 0x52042,
       ExchangeError::address(0x52042)},
      {"sender too far", patch_sender_address, &plan->sender, 0x100000,
       ExchangeError::address(0x100000)},
      {"no SEND word", patch_sender_address, &no_send, 0x100, ExchangeError::address(0x100)},
      {"receiver misaligned", patch_receiver_address, &plan->receivers[0], 0x53082,
       ExchangeError::address(0x53082)},
      {"receiver too far", patch_receiver_address, &plan->receivers[0], 0x100000,
       ExchangeError::address(0x100000)},
      {"no pointer", patch_receiver_address, &no_pointer, 0x100, ExchangeError::address(0x100)},
      {"pointer pair in word 8", patch_receiver_address, &truncated_pair, 0x100,
       ExchangeError::schedule("truncated SENDPICP payload")},
      // A format-control pair's payload is stepped over, never taken for a pointer delay.
      {"format pair", patch_receiver_address, &selector_pair_then_nothing, 0x100,
       ExchangeError::address(0x100)},
  };
  for (const Case& c : cases) {
    Row row = *c.row;
    EXPECT_EQ(c.patch(row, c.address), std::unexpected(c.error)) << c.text;
    EXPECT_EQ(hex_words(row), hex_words(*c.row)) << c.text;
  }
}

TEST_F(PlanTest, PatchesThePointerOfASendControlPair) {
  Row row = {0x41800003, 0x40A00005, 0xF0E00003, 0x19015000, 0x61800000, 0x43A00000, 0, 0, 0};
  ASSERT_TRUE(patch_receiver_address(row, 0x400));
  EXPECT_EQ(row[3], 0x19000100u) << "the pair's payload carries the first pointer";
  EXPECT_EQ(row[4], 0x61800000u) << "only the first pointer is written";
}

TEST(PatchSenderInstruction, WordsAndUnits) {
  struct Case {
    std::uint32_t word;
    std::uint32_t address;
    Result<std::uint32_t> expected;
  };
  const Case cases[] = {
      {0x7FE00005, 0x50000, 0x7FE50005},  // 64-bit send: 8-byte units
      {0x7FE00005, 0x50004, std::unexpected(ExchangeError::address(0x50004))},
      {0x7FE00005, 0x1FFFF8, 0x7FFFFFFD},
      {0x7FE00005, 0x200000, std::unexpected(ExchangeError::address(0x200000))},
      {0xF0E00003, 0x50004, 0xF0EA000B},
      {0xF0E00000, 0x50004, std::unexpected(ExchangeError::address(0x50004))},
      {0x70000001, 0x0, std::unexpected(ExchangeError::address(0))},  // SENDOFF
      {0x78000001, 0xFFFFC, 0x781FFFF9},
      {0x78000001, 0x100000, std::unexpected(ExchangeError::address(0x100000))},
      {0x78000001, 0xFFFFFFFC, std::unexpected(ExchangeError::address(0xFFFFFFFC))},
  };
  for (const Case& c : cases) {
    std::uint32_t word = c.word;
    const Status status = patch_sender_instruction(word, c.address);
    const Result<std::uint32_t> actual =
        status ? Result<std::uint32_t>(word) : std::unexpected(status.error());
    EXPECT_EQ(actual, c.expected) << testing_support::hex(c.word) << " with "
                                  << testing_support::hex(c.address);
    if (!status) {
      EXPECT_EQ(word, c.word);
    }
  }
}

TEST_F(PlanTest, FinalizesPointReceivers) {
  const auto plan = topology.point_to_point(274, 1286, 64);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_EQ(hex_words(plan->receiver), hex_words(Row{1, 0x41800003, 0x641C0000, 0x61980000,
                                                     0x6402C640, 0x40A00038, 0x43A00000, 0, 0}));
  const auto executable = finalize_point_receiver(plan->receiver, 9);
  ASSERT_TRUE(executable) << executable.error();
  EXPECT_EQ(hex_words(*executable), hex_words(Row{0x41800003, 0x641C0009, 0x61980000, 0x6402C640,
                                                  0x40A00038, 0x43A00000, 0, 0, 0}));
  EXPECT_EQ(plan_event_cycles(*executable), plan_event_cycles(plan->receiver));

  const auto bad_index = std::unexpected(ExchangeError::schedule("point receiver patch index"));
  EXPECT_EQ(finalize_point_receiver(plan->receiver, 0x2000), bad_index);
  Row index_eight = plan->receiver;
  index_eight[0] = 8;
  EXPECT_EQ(finalize_point_receiver(index_eight, 9), bad_index);
  index_eight[0] = 7;
  EXPECT_TRUE(finalize_point_receiver(index_eight, 0x1FFF));
}

// ---------------------------------------------------------------------------------------------
// Offsets and measuring
// ---------------------------------------------------------------------------------------------

TEST_F(PlanTest, OffsetsInsertDelaysAfterTheEntryWord) {
  auto plan = topology.multicast(0, {1, 2}, 4096, 0);
  ASSERT_TRUE(plan) << plan.error();
  struct Case {
    Row* row;
    std::uint32_t before;
    std::uint32_t after;
  };
  for (const Case c :
       {Case{&plan->sender, 4127, 528485}, Case{&plan->receivers[0], 4157, 528515}}) {
    const Row original = *c.row;
    ASSERT_EQ(plan_event_cycles(*c.row), c.before);
    ASSERT_TRUE(offset_plan(*c.row, 524358));
    EXPECT_EQ(plan_event_cycles(*c.row), c.after);
    EXPECT_EQ((*c.row)[0], 0x41800003u);
    EXPECT_EQ((*c.row)[1], 0x40A7FFFFu);
    EXPECT_EQ((*c.row)[2], 0x40A00045u);
    EXPECT_TRUE(std::equal(original.begin() + 1, original.end() - 2, c.row->begin() + 3))
        << "the timed words keep their order";
  }
}

TEST_F(PlanTest, OffsetLimits) {
  const auto point = topology.point_to_point(32, 0, 4148);
  ASSERT_TRUE(point) << point.error();
  Row full = point->sender;
  ASSERT_TRUE(offset_plan(full, 2097152));
  EXPECT_EQ(hex_words(full),
            hex_words(Row{0x41800003, 0x40A7FFFF, 0x40A7FFFF, 0x40A7FFFF, 0x40A7FFFF, 0x40A0006C,
                          0x7FE00001, 0x766FC001, 0x43A00000}));
  Row too_far = point->sender;
  EXPECT_EQ(offset_plan(too_far, 2097153),
            std::unexpected(ExchangeError::plan_offset_range(2097153, 2097152)));
  EXPECT_EQ(too_far, point->sender);

  const auto multicast = topology.multicast(0, {274}, 65, 0);
  Row receiver = multicast->receivers[0];
  EXPECT_EQ(offset_plan(receiver, 0xFFFFFFFF),
            std::unexpected(ExchangeError::plan_offset_range(0xFFFFFFFF, 1572864)));
  EXPECT_TRUE(offset_plan(receiver, 1572864));

  Row one = multicast->sender;
  ASSERT_TRUE(offset_plan(one, 1));
  EXPECT_EQ(one[1], 0x40A00000u);
  Row full_row = full;
  EXPECT_EQ(offset_plan(full_row, 1), std::unexpected(ExchangeError::plan_offset_range(1, 0)));
}

TEST_F(PlanTest, OffsetNeedsAnExecutableRow) {
  const auto point = topology.point_to_point(274, 1286, 64);
  Row receiver = point->receiver;
  EXPECT_TRUE(offset_plan(receiver, 0)) << "a zero offset changes nothing, whatever the row";
  EXPECT_EQ(receiver, point->receiver);
  EXPECT_EQ(offset_plan(receiver, 5),
            std::unexpected(ExchangeError::schedule("plan offset entry")));
  Row no_return = {0x41800003, 0x40A00005, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(offset_plan(no_return, 5),
            std::unexpected(ExchangeError::schedule("plan offset return")));
  EXPECT_EQ(receiver, point->receiver);
}

TEST(PlanEventCycles, SumsAdvancesAndStepsOverPairPayloads) {
  // The payload word 0x40A00063 looks like a 100-cycle delay but belongs to the pair.
  const std::vector<std::uint32_t> words = {0x41800003, 0xF0E00003, 0x40A00063, 0x40A00004,
                                            0x43A00000};
  EXPECT_EQ(plan_event_cycles(words), 8u + 5u);
  EXPECT_EQ(plan_event_cycles(std::vector<std::uint32_t>{}), 0u);
  // A pair first word at the very end has no payload to skip.
  EXPECT_EQ(plan_event_cycles(std::vector<std::uint32_t>{0xF0E00003}), 8u);

  const std::vector<std::uint32_t> overflowing(8193, 0x40A7FFFF);
  EXPECT_EQ(plan_event_cycles(overflowing),
            std::unexpected(ExchangeError::schedule("plan event horizon overflow")));
  const std::vector<std::uint32_t> at_limit(8191, 0x40A7FFFF);
  EXPECT_EQ(plan_event_cycles(at_limit), 8191u * 524288u);
}

TEST(NormalizedAddressWords, ClearsExactlyThePatchedFields) {
  struct Case {
    std::vector<std::uint32_t> words;
    std::vector<std::uint32_t> expected;
  };
  const Case cases[] = {
      {{0x41800003, 0x782D0243, 0xF0ED0253, 0x19015000, 0x43A00000},
       {0x41800003, 0x78200003, 0xF0E00003, 0x19000000, 0x43A00000}},
      // A format-control pair keeps its payload; a pair without a send keeps its address bits.
      {{0xF8ED0253, 0x19015000, 0xF0ED0250, 0x19015000},
       {0xF8E00003, 0x19015000, 0xF0ED0250, 0x19000000}},
      // SENDPIC with a pointer (selector 2), SENDPIC with a mux control (selector 0), PIC delays
      // with selectors 0 and 1, SENDOFF.
      {{0x70180123, 0x70100123, 0x61814000, 0x61854000, 0x70004009},
       {0x70180000, 0x70100123, 0x61800000, 0x61854000, 0x70004009}},
      // A pointer pair as the last word has no payload to clear.
      {{0xF0ED0253}, {0xF0E00003}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex_words(normalized_exchange_address_words(c.words)), hex_words(c.expected));
  }
}

}  // namespace
}  // namespace vantle_exchange

namespace vantle_exchange {
namespace {

TEST(PatchSenderAddress, StepsOverTheWordsOfASendControlPair) {
  // The pair's payload word looks like a SEND; the real SEND comes after it.
  Row row = {0x41800003, 0xF0E00000, 0x78400001, 0x78400002, 0x43A00000, 0, 0, 0, 0};
  ASSERT_TRUE(patch_sender_address(row, 0x100));
  EXPECT_EQ(row[2], 0x78400001u);
  EXPECT_EQ(row[3], 0x78400202u);
}

}  // namespace
}  // namespace vantle_exchange
