#include <gtest/gtest.h>

#include <vector>

#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/row_timing.hpp"

namespace vantle_exchange {
namespace {

constexpr std::uint32_t ENTRY = ROW_ENTRY_INSTRUCTION;
constexpr std::uint32_t RET = RETURN_INSTRUCTION;
using Kind = ReceiveEventKind;

std::unexpected<ExchangeError> fails(std::string_view message) {
  return std::unexpected(ExchangeError::schedule(message));
}

// (cycles, kind) of each event, which is what most expectations are about.
std::vector<std::pair<std::uint32_t, Kind>> kinds(const std::vector<ReceiveEvent>& events) {
  std::vector<std::pair<std::uint32_t, Kind>> result;
  for (const ReceiveEvent& event : events) {
    result.emplace_back(event.cycles, event.kind);
  }
  return result;
}

const Row ORDINARY = {ENTRY,
                      delay_xpic(112, 0, 0),
                      delay_xpic(0, 0, 1600),
                      delay_pic(52, 0, 0x100),
                      delay(5),
                      RET,
                      0,
                      0,
                      0};

TEST(SenderRowTiming, PayloadIntervalAndHorizon) {
  const Row row = {ENTRY, delay(30), 0x7FE20001, RET, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_row_timing(row, 0), (SenderRowTiming{31, 95, 95}));
  EXPECT_EQ(sender_row_timing(row, 100), (SenderRowTiming{131, 195, 195}));
  EXPECT_EQ(scheduled_sender_timing(row, 100), (ScheduledSenderTiming{131, 195, 195}));
  EXPECT_EQ(sender_row_timing(row, 0xFFFFFFB0), fails("sender event horizon overflow"));

  const Row delays_only = {ENTRY, delay(30), delay(3), RET, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_row_timing(delays_only, 0), fails("sender payload"));
  const Row no_entry = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_row_timing(no_entry, 0), fails("sender row entry"));
  const Row no_return = {ENTRY, 0x7FE20001, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_row_timing(no_return, 0), fails("sender row return"));
  // The words after the return word are padding.
  const Row send_after_return = {ENTRY, delay(3), RET, 0x7FE20001, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_row_timing(send_after_return, 0), fails("sender payload"));
}

TEST(SenderRowTiming, StepsOverTheWordsOfASendControlPair) {
  // The pair's payload word looks like a 100-cycle delay, and in the second row like a SEND.
  const Row delay_like = {ENTRY, 0x7FE20001, 0xF0E00003, 0x40A00063, RET, 0, 0, 0, 0};
  EXPECT_EQ(sender_row_timing(delay_like, 0), (SenderRowTiming{0, 64, 72}));
  const Row send_like = {ENTRY, 0xF0E00003, 0x78400001, delay(1), 0x7FE20001, RET, 0, 0, 0};
  EXPECT_EQ(sender_row_timing(send_like, 0), (SenderRowTiming{10, 74, 74}));
}

TEST(ReceiveRowTiming, OrdinaryRow) {
  const auto timing = receive_row_timing(ORDINARY, 0);
  ASSERT_TRUE(timing) << timing.error();
  EXPECT_EQ(timing->mode, ReceiveMode::Ordinary);
  EXPECT_EQ(kinds(timing->events),
            (std::vector<std::pair<std::uint32_t, Kind>>{
                {113, Kind::OrdinarySource}, {114, Kind::OrdinaryNeutral}, {167, Kind::Pointer}}));
  EXPECT_EQ(timing->events[0].instruction, ORDINARY[1]);
  EXPECT_EQ(timing->source_cycles, 113u);
  EXPECT_EQ(timing->neutral_cycles, 114u);
  EXPECT_EQ(timing->pointer_cycles, 167u);
  EXPECT_EQ(timing->pointer_address, 0x400u);
  EXPECT_EQ(timing->horizon_cycles, 173u);
  EXPECT_EQ(timing->format_start_cycles, std::nullopt);
}

TEST(ReceiveRowTiming, PairedRowAndItsPartner) {
  const Row near = {ENTRY,      0x64002000, 0x61A40001, 0x60098000, 0x64022640,
                    0x61A40000, 0x40A00006, RET,        0};
  const auto timing = receive_row_timing(near, 0);
  ASSERT_TRUE(timing) << timing.error();
  EXPECT_EQ(timing->mode, ReceiveMode::Paired64);
  EXPECT_EQ(kinds(timing->events),
            (std::vector<std::pair<std::uint32_t, Kind>>{{1, Kind::PairedSource},
                                                         {54, Kind::Format},
                                                         {56, Kind::Pointer},
                                                         {65, Kind::PairedNeutral},
                                                         {118, Kind::Format}}));
  EXPECT_EQ(timing->format_start_cycles, 54u);
  EXPECT_EQ(timing->format_end_cycles, 118u);
  EXPECT_EQ(timing->horizon_cycles, 125u);
  EXPECT_EQ(timing->pointer_address, 0x60000u);

  const Row partner = {ENTRY, 0x61AC0001, 0x60098000, 0x61EC0000, 0x40A00006, RET, 0, 0, 0};
  const auto partner_timing = receive_row_timing(partner, 0);
  ASSERT_TRUE(partner_timing) << partner_timing.error();
  EXPECT_EQ(partner_timing->mode, ReceiveMode::Paired64);
  EXPECT_EQ(kinds(partner_timing->events),
            (std::vector<std::pair<std::uint32_t, Kind>>{
                {54, Kind::Format}, {56, Kind::Pointer}, {118, Kind::Format}}));
  EXPECT_EQ(partner_timing->horizon_cycles, 125u);
  EXPECT_EQ(partner_timing->source_cycles, std::nullopt);
  EXPECT_EQ(partner_timing->neutral_cycles, std::nullopt);
}

TEST(ReceiveRowTiming, SendControlPairYieldsBothControlsOneCycleAfterIssue) {
  // The pair issues at cycle 10 and lasts 8 cycles; its payload is neutral mux + pointer 0x100.
  const std::uint32_t payload = (TILE_MUX_EXCHANGE << 18) | 0x100;
  const Row row = {ENTRY, delay_xpic(9, 0, 7), 0xF0E00003, payload, RET, 0, 0, 0, 0};
  const auto timing = receive_row_timing(row, 0);
  ASSERT_TRUE(timing) << timing.error();
  const std::vector<ReceiveEvent> expected = {
      {10, delay_xpic(9, 0, 7), Kind::OrdinarySource},
      {11, delay_xpic(0, 0, TILE_MUX_EXCHANGE), Kind::OrdinaryNeutral},
      {11, delay_pic(0, 0, 0x100), Kind::Pointer},
  };
  EXPECT_EQ(timing->events, expected);
  EXPECT_EQ(timing->horizon_cycles, 18u);
}

TEST(ReceiveRowTiming, FaultsInTheirOrder) {
  struct Case {
    const char* text;
    Row row;
    std::string_view message;
  };
  const Case cases[] = {
      {"no entry", {0, 0, 0, 0, 0, 0, 0, 0, 0}, "receive row entry"},
      {"no return", {ENTRY, delay(1), 0, 0, 0, 0, 0, 0, 0}, "receive row return"},
      {"format value 3",
       {ENTRY, delay_pic(0, 1, 3), RET, 0, 0, 0, 0, 0, 0},
       "paired receive format value"},
      {"format end alone: ordinary",
       {ENTRY, delay_pic(0, 1, 0), RET, 0, 0, 0, 0, 0, 0},
       "incomplete ordinary receive mux"},
      {"only a teardown",
       {ENTRY, delay_xpic(3, 0, 1600), delay_pic(3, 0, 5), RET, 0, 0, 0, 0, 0},
       "incomplete ordinary receive mux"},
      {"two pointers",
       {ENTRY, delay_xpic(3, 0, 5), delay_pic(3, 0, 5), delay_pic(3, 0, 6), delay_xpic(3, 0, 1600),
        RET, 0, 0, 0},
       "multiple receive pointers"},
      {"two teardowns",
       {ENTRY, delay_xpic(3, 0, 1600), delay_xpic(3, 1, 1600), RET, 0, 0, 0, 0, 0},
       "multiple receive teardowns"},
      {"two sources",
       {ENTRY, delay_xpic(3, 0, 5), delay_xpic(3, 0, 6), RET, 0, 0, 0, 0, 0},
       "multiple receive sources"},
      {"two format starts",
       {ENTRY, delay_pic(3, 1, 1), delay_pic(3, 1, 2), RET, 0, 0, 0, 0, 0},
       "multiple paired format starts"},
      {"two format ends",
       {ENTRY, delay_pic(3, 1, 0), delay_pic(3, 1, 0), RET, 0, 0, 0, 0, 0},
       "multiple paired format ends"},
      {"paired mux without format",
       {ENTRY, delay_xpic(3, 1, 5), delay_pic(3, 1, 0), RET, 0, 0, 0, 0, 0},
       "incomplete paired receive format"},
      // The second source is met before the second pointer in row order.
      {"first fault in row order",
       {ENTRY, delay_xpic(3, 0, 5), delay_pic(3, 0, 5), delay_xpic(3, 0, 6), delay_pic(3, 0, 6),
        RET, 0, 0, 0},
       "multiple receive sources"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(receive_row_timing(c.row, 0), fails(c.message)) << c.text;
  }
  const Row long_row = {ENTRY, delay(0x7FFFF), delay_xpic(0, 0, 5), RET, 0, 0, 0, 0, 0};
  EXPECT_EQ(receive_row_timing(long_row, 0xFFF80000), fails("receive event horizon overflow"));
}

TEST(ReceiveRowTiming, ShiftingChecksEveryCycle) {
  auto base = receive_row_timing(ORDINARY, 0);
  ASSERT_TRUE(base);
  const auto shifted = receive_row_timing_from_base(*base, 1000);
  ASSERT_TRUE(shifted);
  EXPECT_EQ(*shifted, *receive_row_timing(ORDINARY, 1000));
  base->horizon_cycles = 0xFFFFFFF0;
  EXPECT_EQ(receive_row_timing_from_base(*base, 0x20), fails("receive offset overflow"));
}

TEST(ScheduledReceiveWindow, DataIntervalsAndTrailingSlack) {
  const auto base = receive_row_timing(ORDINARY, 0);
  ASSERT_TRUE(base);

  const auto one = scheduled_receive_window(*base, 10, 1, std::nullopt);
  ASSERT_TRUE(one) << one.error();
  EXPECT_EQ(std::tie(one->source_start, one->source_end, one->payload_start, one->payload_end,
                     one->horizon),
            std::make_tuple(123u, 124u, 177u, 178u, 183u));
  EXPECT_EQ(kinds(one->events),
            (std::vector<std::pair<std::uint32_t, Kind>>{
                {123, Kind::OrdinarySource}, {124, Kind::OrdinaryNeutral}, {177, Kind::Pointer}}));
  EXPECT_EQ(one->pointer_address, 0x400u);

  // The data outlast the row: no slack is added, the teardown follows the last word.
  const auto twenty = scheduled_receive_window(*base, 10, 20, std::nullopt);
  ASSERT_TRUE(twenty) << twenty.error();
  EXPECT_EQ(std::tie(twenty->source_start, twenty->source_end, twenty->payload_start,
                     twenty->payload_end, twenty->horizon),
            std::make_tuple(123u, 143u, 177u, 197u, 197u));
  EXPECT_EQ(kinds(twenty->events),
            (std::vector<std::pair<std::uint32_t, Kind>>{
                {123, Kind::OrdinarySource}, {143, Kind::OrdinaryNeutral}, {177, Kind::Pointer}}));

  const auto ten = scheduled_receive_window(*base, 0, 10, std::nullopt);
  ASSERT_TRUE(ten);
  EXPECT_EQ(ten->source_end, 123u);
  EXPECT_EQ(ten->events[1], (ReceiveEvent{123, ORDINARY[2], Kind::OrdinaryNeutral}));
}

TEST(ScheduledReceiveWindow, ContinuingTheOpenStreamDropsThePointer) {
  const auto base = receive_row_timing(ORDINARY, 0);
  ASSERT_TRUE(base);
  const auto stream = [](std::optional<std::uint32_t> next, ReceiveMode mode) {
    return std::optional<ReceiveStream>(ReceiveStream{next, 0, 0, mode});
  };
  const auto continued =
      scheduled_receive_window(*base, 0, 10, stream(0x400, ReceiveMode::Ordinary));
  ASSERT_TRUE(continued);
  EXPECT_EQ(kinds(continued->events),
            (std::vector<std::pair<std::uint32_t, Kind>>{{113, Kind::OrdinarySource},
                                                         {123, Kind::OrdinaryNeutral}}));
  EXPECT_EQ(continued->payload_start, 167u);

  for (const auto& previous :
       {stream(0x400, ReceiveMode::Paired64), stream(0x404, ReceiveMode::Ordinary),
        stream(std::nullopt, ReceiveMode::Ordinary)}) {
    const auto window = scheduled_receive_window(*base, 0, 10, previous);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->events.size(), 3u);
  }
}

TEST(ScheduledReceiveWindow, Faults) {
  const auto base = receive_row_timing(ORDINARY, 0);
  ASSERT_TRUE(base);
  EXPECT_EQ(scheduled_receive_window(*base, 0, 0xFFFFFFFF, std::nullopt),
            fails("receive source timing overflow"));
  EXPECT_EQ(scheduled_receive_window(*base, 0xFFFFFFA0, 1, std::nullopt),
            fails("receive offset overflow"));
  const Row no_pointer = {ENTRY, delay_xpic(3, 0, 5), delay_xpic(3, 0, 1600), RET, 0, 0, 0, 0, 0};
  const auto pointerless = receive_row_timing(no_pointer, 0);
  ASSERT_TRUE(pointerless);
  EXPECT_EQ(scheduled_receive_window(*pointerless, 0, 1, std::nullopt),
            fails("receive pointer event"));
  // With no words to receive, the teardown would land on the source selection itself.
  EXPECT_EQ(scheduled_receive_window(*base, 0, 0, std::nullopt),
            fails("incompatible simultaneous receive controls"));
}

TEST(ValidateReceiveEvents, OnlyOnePicAndOneXpicPerCycle) {
  const ReceiveEvent source{5, delay_xpic(0, 0, 5), Kind::OrdinarySource};
  const ReceiveEvent neutral{5, delay_xpic(0, 0, 1600), Kind::OrdinaryNeutral};
  const ReceiveEvent pointer{5, delay_pic(0, 0, 5), Kind::Pointer};
  const ReceiveEvent format{5, delay_pic(0, 1, 1), Kind::Format};
  const auto incompatible = fails("incompatible simultaneous receive controls");
  using Events = std::vector<ReceiveEvent>;
  EXPECT_TRUE(validate_receive_events(Events{}));
  EXPECT_TRUE(validate_receive_events(Events{format}));
  EXPECT_TRUE(validate_receive_events(Events{pointer, source}));
  EXPECT_TRUE(validate_receive_events(Events{source, pointer}));
  EXPECT_EQ(validate_receive_events(Events{pointer, pointer}), incompatible);
  EXPECT_EQ(validate_receive_events(Events{format, pointer}), incompatible);
  EXPECT_EQ(validate_receive_events(Events{source, neutral}), incompatible);
  EXPECT_EQ(validate_receive_events(Events{source, pointer, format}), incompatible);
  ReceiveEvent later = pointer;
  later.cycles = 6;
  EXPECT_TRUE(validate_receive_events(Events{source, later}));
  EXPECT_FALSE(receive_events_can_share_instruction(source, later));
  EXPECT_TRUE(receive_events_can_share_instruction(format, neutral));
}

}  // namespace
}  // namespace vantle_exchange
