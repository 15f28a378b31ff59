#include <gtest/gtest.h>

#include <vector>

#include "test_support.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

using testing_support::hex_words;
constexpr std::uint32_t ENTRY = ROW_ENTRY_INSTRUCTION;
constexpr std::uint32_t RET = RETURN_INSTRUCTION;

class PairedTest : public testing::Test {
 protected:
  const Topology topology = Topology::dorn();
};

TEST_F(PairedTest, PartnersDifferInBitOneOfThePhysicalId) {
  EXPECT_EQ(topology.paired_logical(0), 1);
  EXPECT_EQ(topology.paired_logical(1), 0);
  EXPECT_EQ(topology.paired_logical(46), 47);
  EXPECT_EQ(topology.paired_logical(1472), std::unexpected(ExchangeError::tile(1472)));
}

TEST_F(PairedTest, EarlyMembers) {
  struct Case {
    std::uint16_t receiver;
    std::uint16_t sender;
    bool early;
  };
  for (const Case c : {Case{2, 0, true}, Case{3, 0, false}, Case{0, 2, true}, Case{1, 2, false},
                       Case{47, 0, true}, Case{46, 0, false}}) {
    EXPECT_EQ(topology.paired_receiver_is_early(c.receiver, c.sender), c.early)
        << c.receiver << " from " << c.sender;
  }
  EXPECT_EQ(topology.paired_receiver_is_early(1472, 0), std::unexpected(ExchangeError::tile(1472)));
  EXPECT_EQ(topology.paired_receiver_is_early(0, 1473), std::unexpected(ExchangeError::tile(1473)));
}

TEST_F(PairedTest, NearCaseRows) {
  auto plan = topology.paired_multicast(0, {2, 3}, 64);
  ASSERT_TRUE(plan) << plan.error();
  ASSERT_TRUE(patch_sender_address(plan->sender, 0x50000));
  for (Row& row : plan->receivers) {
    ASSERT_TRUE(patch_receiver_address(row, 0x60000));
  }
  EXPECT_EQ(hex_words(plan->sender),
            hex_words(Row{ENTRY, 0x40A0001E, 0x7FE50005, RET, 0, 0, 0, 0, 0}));
  EXPECT_EQ(hex_words(plan->receivers[0]),
            hex_words(Row{ENTRY, 0x64002000, 0x61A40001, 0x60098000, 0x64022640, 0x61A40000,
                          0x40A00006, RET, 0}));
  EXPECT_EQ(hex_words(plan->receivers[1]),
            hex_words(Row{ENTRY, 0x61AC0001, 0x60098000, 0x61EC0000, 0x40A00006, RET, 0, 0, 0}));
  // The rows are usable on their own with the plan's minimum paired route time.
  EXPECT_EQ(topology.paired_receiver_row(0, 3, 64, -30),
            (Row{ENTRY, 0x61AC0001, 0x60080000, 0x61EC0000, 0x40A00006, RET, 0, 0, 0}));
}

TEST_F(PairedTest, SeveralPairsSendBothWays) {
  const auto plan = topology.paired_multicast(0, {2, 3, 46, 47}, 512);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_EQ(plan->receivers.size(), 4u);
  for (const std::uint32_t word : plan->sender) {
    if (is_payload_send(word)) {
      EXPECT_EQ(word & 7, 7u);
    }
  }
}

TEST_F(PairedTest, Rejections) {
  struct Case {
    std::uint16_t sender;
    std::vector<std::uint16_t> receivers;
    std::uint32_t count;
    ExchangeError error;
  };
  const Case cases[] = {
      {0, {2, 3}, 63, ExchangeError::count(63)},
      {0, {2, 3}, 0, ExchangeError::count(0)},
      {0, {2, 3}, 4149, ExchangeError::count(4149)},
      {0, {2}, 64, ExchangeError::receiver_set()},
      {0, {}, 64, ExchangeError::receiver_set()},
      {0, {2, 2}, 64, ExchangeError::receiver_set()},
      {0, {0, 1}, 64, ExchangeError::receiver_set()},
      {0, {1, 2, 3, 4}, 64, ExchangeError::receiver_set()},
      {0, {2, 4}, 64, ExchangeError::receiver_set()},
      {0, {2, 1472}, 64, ExchangeError::receiver_set()},
      {1472, {2, 3}, 64, ExchangeError::tile(1472)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(topology.paired_multicast(c.sender, c.receivers, c.count), std::unexpected(c.error))
        << c.sender << " with " << c.receivers.size() << " receivers, " << c.count << " words";
  }
}

TEST_F(PairedTest, CoincidentControlsOfTheEarlyMember) {
  // The early member's format start lies 51 + 2 x (its row) cycles after its source selection;
  // a transfer of exactly that many words would tear the mux down on the format start, and one
  // of two words more on the pointer write. From row 7 up that distance is a valid paired count.
  bool found = false;
  for (std::uint16_t receiver = 0; receiver < 1472 && !found; receiver += 2) {
    const auto partner = topology.paired_logical(receiver);
    if (!partner || receiver == 0 || receiver == 1 || *partner == 0 || *partner == 1) {
      continue;
    }
    const std::uint16_t early =
        *topology.paired_receiver_is_early(receiver, 0) ? receiver : *partner;
    const std::uint32_t physical = topology.logical_to_physical()[early];
    const std::uint32_t distance = 51 + 2 * (physical / 64);
    if (distance >= 64) {
      found = true;
      EXPECT_EQ(topology.paired_multicast(0, {receiver, *partner}, distance),
                std::unexpected(ExchangeError::schedule("paired receive coincident controls")));
      EXPECT_EQ(topology.paired_multicast(0, {receiver, *partner}, distance + 2),
                std::unexpected(ExchangeError::schedule("paired receive coincident controls")));
      EXPECT_TRUE(topology.paired_multicast(0, {receiver, *partner}, distance + 1));
    }
  }
  EXPECT_TRUE(found);
}

TEST(SetSenderControl, RewritesEveryPayloadSend) {
  Row row = {ENTRY, delay(3), 0x7FE00001, send_off(99, 1, 0), RET, 0, 0, 0, 0};
  ASSERT_TRUE(set_sender_control(row, 6));
  EXPECT_EQ(row[2], 0x7FE00006u);
  EXPECT_EQ(row[3], send_off(99, 6, 0));

  for (const std::uint8_t invalid : {std::uint8_t{0}, std::uint8_t{8}}) {
    Row unchanged = row;
    EXPECT_EQ(set_sender_control(unchanged, invalid),
              std::unexpected(ExchangeError::schedule("send control")));
    EXPECT_EQ(unchanged, row);
  }
  Row no_sends = {ENTRY, delay(3), RET, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(set_sender_control(no_sends, 5),
            std::unexpected(ExchangeError::schedule("sender payload")));
}

TEST(SetSenderControl, StepsOverTheWordsOfASendControlPair) {
  // The pair's payload word looks like a SEND; its low bits are receive-control data.
  const std::uint32_t payload_like_send = 0x78400001;
  Row row = {ENTRY, 0xF0E00003, payload_like_send, 0xF8E00000, 0, 0x78000002, RET, 0, 0};
  ASSERT_TRUE(set_sender_control(row, 5));
  EXPECT_EQ(row[1], 0xF0E00005u) << "a pair that sends is marked";
  EXPECT_EQ(row[2], payload_like_send) << "its payload word is left alone";
  EXPECT_EQ(row[3], 0xF8E00000u) << "a pair that only carries controls is left alone";
  EXPECT_EQ(row[5], 0x78000005u);
}

}  // namespace
}  // namespace vantle_exchange
