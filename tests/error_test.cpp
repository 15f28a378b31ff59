#include <gtest/gtest.h>

#include "vantle_exchange/error.hpp"

namespace vantle_exchange {
namespace {

TEST(ExchangeError, DebugTextNamesVariantAndPayload) {
  const std::pair<ExchangeError, std::string_view> cases[] = {
      {ExchangeError::tile(1472), "Tile(1472)"},
      {ExchangeError::duplicate_tile(), "DuplicateTile"},
      {ExchangeError::count(4149), "Count(4149)"},
      {ExchangeError::receiver_set(), "ReceiverSet"},
      {ExchangeError::schedule(message::SENDER_DELAY), "Schedule(\"sender delay\")"},
      {ExchangeError::plan_offset_range(2097153, 2097152),
       "PlanOffsetRange { cycles: 2097153, maximum: 2097152 }"},
      {ExchangeError::address(0x100000), "Address(1048576)"},
      {ExchangeError::host_packet(), "HostPacket"},
  };
  for (const auto& [error, text] : cases) {
    EXPECT_EQ(to_string(error), text);
  }
}

TEST(ExchangeError, EqualWhenVariantAndPayloadAreEqual) {
  EXPECT_EQ(ExchangeError::tile(3), ExchangeError::tile(3));
  EXPECT_NE(ExchangeError::tile(3), ExchangeError::tile(4));
  EXPECT_NE(ExchangeError::tile(3), ExchangeError::count(3));
  EXPECT_NE(ExchangeError::plan_offset_range(1, 2), ExchangeError::plan_offset_range(1, 3));
  // The texts compare by content, not by where they are stored.
  const std::string copy(message::SENDER_DELAY);
  EXPECT_EQ(ExchangeError::schedule(copy), ExchangeError::schedule(message::SENDER_DELAY));
  EXPECT_NE(ExchangeError::schedule(message::SENDER_DELAY),
            ExchangeError::schedule(message::PLAN_OFFSET_ENTRY));
  EXPECT_NE(ExchangeError::duplicate_tile(), ExchangeError::receiver_set());
}

TEST(ExchangeError, VariantsKeepTheirOrder) {
  EXPECT_EQ(static_cast<int>(ExchangeError::Kind::Tile), 0);
  EXPECT_EQ(static_cast<int>(ExchangeError::Kind::HostPacket), 7);
}

TEST(ExchangeError, DocumentedMessagesAreKnown) {
  EXPECT_TRUE(is_documented_message("plan offset return"));
  EXPECT_FALSE(is_documented_message("plan offset"));
}

}  // namespace
}  // namespace vantle_exchange
