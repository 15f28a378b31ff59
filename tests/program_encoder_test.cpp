#include <gtest/gtest.h>

#include <vector>

#include "test_support.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/program_encoder.hpp"

namespace vantle_exchange {
namespace {

using testing_support::hex_words;
using Words = std::vector<std::uint32_t>;

// A SEND of 64 words from word address 0x4000 in direction 1.
constexpr std::uint32_t I = 0x7FE20001;
// S: the send starts after a 31-cycle delay, payload [31, 95). T: the send starts at once.
const Row S = {ROW_ENTRY_INSTRUCTION, delay(30), I, RETURN_INSTRUCTION, 0, 0, 0, 0, 0};
const Row T = {ROW_ENTRY_INSTRUCTION, I, RETURN_INSTRUCTION, 0, 0, 0, 0, 0, 0};
const ScheduledSenderRow S0{S, 31, 95};
const ScheduledSenderRow T0{T, 0, 64};

ReceiveEvent X(std::uint32_t cycles) {
  return {cycles, delay_xpic(0, 0, 5), ReceiveEventKind::OrdinarySource};
}
ReceiveEvent P(std::uint32_t cycles) {
  return {cycles, delay_pic(0, 0, 0x14000), ReceiveEventKind::Pointer};
}

std::string describe(const Result<Words>& program) {
  return program ? hex_words(*program) : to_string(program.error());
}

Result<Words> fails(std::string_view message) {
  return std::unexpected(ExchangeError::schedule(message));
}

TEST(SendControlEncoders, ReferenceWords) {
  const ReceiveEvent neutral{189, delay_xpic(0, 0, TILE_MUX_EXCHANGE),
                             ReceiveEventKind::OrdinaryNeutral};
  const ReceiveEvent pointer{189, delay_pic(0, 0, 0x15000), ReceiveEventKind::Pointer};
  EXPECT_EQ(encode_send_control_pair(42, 0x14021, 1, std::vector{neutral, pointer}),
            (SendControlPair{0xF54A0109, 0x19015000}));

  const ReceiveEvent source{1, delay_xpic(0, 0, 0), ReceiveEventKind::OrdinarySource};
  const ReceiveEvent format{1, delay_pic(0, 1, 1), ReceiveEventKind::Format};
  const SendControlPair expected{0xF8000000, 0x00000001};
  EXPECT_EQ(encode_send_control_pair(0, 0, 0, std::vector{source, format}), expected);
  EXPECT_EQ(encode_send_control_pair(0, 0, 0, std::vector{format, source}), expected);

  const auto operand = std::unexpected(ExchangeError::schedule("SENDPICP operand"));
  EXPECT_EQ(encode_send_control_pair(64, 0, 0, std::vector{source, format}), operand);
  EXPECT_EQ(encode_send_control_pair(0, 0x40000, 0, std::vector{source, format}), operand);
  EXPECT_EQ(encode_send_control_pair(0, 0, 8, std::vector{source, format}), operand);
  EXPECT_EQ(encode_send_control_pair(0, 0, 0, std::vector{source}), operand);
  EXPECT_EQ(encode_send_control_pair(0, 0, 0, std::vector{source, format, format}), operand);
  EXPECT_EQ(encode_send_control_pair(0, 0, 0, std::vector{source, source}),
            std::unexpected(ExchangeError::schedule("SENDPICP PIC control")));
  EXPECT_EQ(encode_send_control_pair(0, 0, 0, std::vector{format, format}),
            std::unexpected(ExchangeError::schedule("SENDPICP XPIC control")));
  ReceiveEvent late_format = format;
  late_format.cycles = 2;
  EXPECT_EQ(encode_send_control_pair(0, 0, 0, std::vector{source, late_format}),
            std::unexpected(ExchangeError::schedule("SENDPICP event time")));

  EXPECT_EQ(encode_send_control(63, {0, delay_pic(0, 1, 2), ReceiveEventKind::Format}),
            0x77FC0002u);
  EXPECT_EQ(encode_send_control(0, {0, delay_xpic(0, 1, 0x640), ReceiveEventKind::PairedNeutral}),
            0x70140640u);
  EXPECT_EQ(encode_send_control(64, P(1)),
            std::unexpected(ExchangeError::schedule("SENDPIC count")));
}

struct ProgramCase {
  const char* text;
  std::vector<ScheduledSenderRow> senders;
  std::vector<ReceiveEvent> events;
  std::uint32_t horizon;
  Result<Words> expected;
};

TEST(BuildScheduledProgram, ReferencePrograms) {
  constexpr std::uint32_t RET = RETURN_INSTRUCTION;
  const Row long_message = {
      ROW_ENTRY_INSTRUCTION, I, send_off(4095, 1, 0), send_off(839, 1, 0), RET, 0, 0, 0, 0};
  const Row gapped = {ROW_ENTRY_INSTRUCTION, I, delay(4), send_off(9, 1, 0), RET, 0, 0, 0, 0};
  const ProgramCase cases[] = {
      {"nothing, horizon 0", {}, {}, 0, Words{RET}},
      {"nothing, horizon 100", {}, {}, 100, Words{0x40A00063, RET}},
      {"nothing, horizon 600000", {}, {}, 600000, Words{0x40A7FFFF, 0x40A127BF, RET}},
      {"S alone", {S0}, {}, 95, Words{0x40A0001E, 0x7FE20001, RET}},
      {"5000 words",
       {{long_message, 0, 5000}},
       {},
       5000,
       Words{0x7FE20001, send_off(4095, 1, 0), send_off(839, 1, 0), RET}},
      {"S with X(50)", {S0}, {X(50)}, 95, Words{0x40A0001E, 0x7A220001, 0x75B00005, RET}},
      {"T with X(20), P(20)",
       {T0},
       {X(20), P(20)},
       64,
       Words{0x78020001, 0x72200001, 0xF5820099, 0x00154000, RET}},
      {"S with X(41), X(61), P(61)",
       {S0},
       {X(41), X(61), P(61)},
       95,
       Words{0x40A0001E, 0x79020001, 0x72500005, 0x70000001, 0xF44200E9, 0x00154000, RET}},
      {"X(40)", {}, {X(40)}, 100, Words{0x6409C005, 0x40A0003B, RET}},
      {"P(1000)", {}, {P(1000)}, 1000, Words{0x40A00367, 0x63F94000, RET}},
      {"X(10), P(10)",
       {},
       {X(10), P(10)},
       100,
       Words{0x40A00007, 0x40A00000, 0xF7E00000, 0x00154000, 0x40A0001A, RET}},
      {"P(10), X(10) in placement order",
       {},
       {P(10), X(10)},
       100,
       Words{0x40A00007, 0x40A00000, 0xF7E00000, 0x00154000, 0x40A0001A, RET}},
      {"S with X(95), its end cycle",
       {S0},
       {X(95)},
       95,
       Words{0x40A0001E, 0x7FC20001, 0x70100005, RET}},
      {"X(40) then a pair at 41",
       {},
       {X(40), X(41), P(41)},
       100,
       fails("SENDPICP instruction alignment")},
      {"single event at 0", {}, {X(0)}, 100, fails("receive control issue interval")},
      {"pair at 0", {}, {X(0), P(0)}, 100, fails("receive control at phase entry")},
      {"S with X(31)", {S0}, {X(31)}, 95, fails("send control order")},
      {"S with X(32)", {S0}, {X(32)}, 95, fails("unencodable initial send control")},
      {"horizon before the last event", {}, {X(40)}, 39, fails("plan delay order")},
      {"horizon on the last event", {}, {X(40)}, 40, Words{0x6409C005, RET}},
      {"gapped sends", {{gapped, 0, 79}}, {}, 79, fails("sender payload horizon")},
      {"overlapping messages", {S0, {S, 94, 158}}, {}, 158, fails("overlapping outgoing messages")},
      {"three controls on one cycle",
       {},
       {X(10), P(10), P(10)},
       100,
       fails("incompatible simultaneous receive controls")},
      {"a format control beyond its delay's reach",
       {},
       {{300, delay_pic(0, 1, 1), ReceiveEventKind::Format}},
       300,
       Words{0x40A000AB, 0x63FC0001, RET}},
      {"a control word that is no delay",
       {},
       {{5, 0x78000001, ReceiveEventKind::Pointer}},
       10,
       fails("receive timed event")},
  };
  for (const ProgramCase& c : cases) {
    const auto program = build_scheduled_program(c.senders, c.events, c.horizon);
    EXPECT_EQ(describe(program), describe(c.expected)) << c.text;
    if (program) {
      EXPECT_EQ(plan_event_cycles(*program), c.horizon) << c.text;
    }
  }
}

TEST(BuildScheduledProgram, SendersInAnyOrderAndMessagesBackToBack) {
  const ScheduledSenderRow later{S, 95, 159};
  const auto program = build_scheduled_program(std::vector{later, S0}, {}, 159);
  ASSERT_TRUE(program) << program.error();
  EXPECT_EQ(hex_words(*program), hex_words(Words{0x40A0001E, I, I, RETURN_INSTRUCTION}));
}

TEST(AppendReceiveEvents, WithoutAlignmentInsideARow) {
  Words words;
  std::uint32_t cycles = 0;
  ASSERT_TRUE(append_receive_events(words, cycles, std::vector{X(10), P(10)}, 100, false));
  EXPECT_EQ(hex_words(words), hex_words(Words{0x40A00008, 0xF7E00000, 0x00154000, 0x40A0001A}));
  EXPECT_EQ(cycles, 100u);
}

TEST(AppendPlainDelayAligned, ReachesTheParityOrFails) {
  struct Case {
    std::size_t length;
    std::uint32_t from;
    std::uint32_t to;
    std::uint32_t parity;
    Result<Words> expected;
  };
  const Case cases[] = {
      {0, 0, 9, 0, Words{delay(7), delay(0)}},
      {1, 0, 9, 0, Words{delay(8)}},
      {0, 0, 1, 0, fails("SENDPICP instruction alignment")},
      {0, 5, 5, 0, Words{}},
      {1, 5, 5, 0, fails("SENDPICP instruction alignment")},
      {0, 6, 5, 0, fails("plan delay order")},
      {0, 0, 0x80001, 0, Words{delay(0x7FFFF), delay(0)}},
      {0, 0, 0x80000, 0, Words{delay(0x7FFFE), delay(0)}},
      // The early words leave one cycle for each word still to come.
      {1, 0, 0x80001, 0, Words{delay(0x7FFFE), delay(0), delay(0)}},
  };
  for (const Case& c : cases) {
    Words words(c.length, RETURN_INSTRUCTION);
    std::uint32_t cycles = c.from;
    const Status status = append_plain_delay_aligned(words, cycles, c.to, c.parity);
    const Result<Words> appended =
        status ? Result<Words>(
                     Words(words.begin() + static_cast<std::ptrdiff_t>(c.length), words.end()))
               : std::unexpected(status.error());
    EXPECT_EQ(describe(appended), describe(c.expected))
        << c.length << ": " << c.from << " to " << c.to;
    if (status) {
      EXPECT_EQ(cycles, c.to);
      EXPECT_EQ(words.size() % 2, c.parity);
    }
  }
}

TEST(SenderPayload, StepsOverTheWordsOfASendControlPair) {
  // The pair's payload word looks like a second SEND and like a delay; neither may count.
  const Row looks_like_send = {
      ROW_ENTRY_INSTRUCTION, I, 0xF0E00003, 0x78400001, RETURN_INSTRUCTION, 0, 0, 0, 0};
  EXPECT_EQ(sender_payload(looks_like_send), (SenderPayload{I, 64}));
  const Row two_sends = {ROW_ENTRY_INSTRUCTION, I, 0x78400001, RETURN_INSTRUCTION, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_payload(two_sends),
            std::unexpected(ExchangeError::schedule("multiple initial sends")));
  const Row no_send = {
      ROW_ENTRY_INSTRUCTION, send_off(3, 1, 0), RETURN_INSTRUCTION, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_payload(no_send), std::unexpected(ExchangeError::schedule("sender payload")));
  // Without a send control the message has no route.
  const Row nowhere = {ROW_ENTRY_INSTRUCTION, 0x7FE20000, RETURN_INSTRUCTION, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(sender_payload(nowhere), std::unexpected(ExchangeError::schedule("send control")));
  const Row with_send_offs = {ROW_ENTRY_INSTRUCTION,
                              I,
                              send_off(4095, 1, 0),
                              send_off(9, 1, 0),
                              RETURN_INSTRUCTION,
                              0,
                              0,
                              0,
                              0};
  EXPECT_EQ(sender_payload(with_send_offs), (SenderPayload{I, 64 + 4096 + 10}));
}

TEST(EmitSenderWords, SplitsOneChunkForParity) {
  Words words;
  std::uint32_t cycles = 0, remaining = 64, sent = 0;
  bool started = false;
  ASSERT_TRUE(emit_sender_words(words, cycles, I, 1, remaining, sent, started, 19, 0u));
  EXPECT_EQ(hex_words(words), hex_words(Words{0x78020001, 0x72200001}));
  EXPECT_EQ(remaining, 45u);
  EXPECT_EQ(sent, 19u);
  EXPECT_TRUE(started);

  Words one_word;
  std::uint32_t c = 0, r = 64, s = 0;
  bool st = false;
  EXPECT_EQ(emit_sender_words(one_word, c, I, 1, r, s, st, 1, 0u),
            std::unexpected(ExchangeError::schedule("SENDPICP instruction alignment")));
  Words none;
  std::uint32_t c2 = 0, r2 = 64, s2 = 0;
  bool st2 = false;
  EXPECT_EQ(emit_sender_words(none, c2, I, 1, r2, s2, st2, 0, std::nullopt),
            std::unexpected(ExchangeError::schedule("unencodable initial send control")));
  EXPECT_EQ(emit_sender_words(none, c2, I, 1, r2, s2, st2, 65, std::nullopt),
            std::unexpected(ExchangeError::schedule("sender payload overflow")));
}

}  // namespace
}  // namespace vantle_exchange
