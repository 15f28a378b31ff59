#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <vector>

#include "test_support.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/log.hpp"

namespace vantle_exchange::diagnostic {
namespace {

using Words = std::vector<std::uint32_t>;
constexpr std::uint32_t ENTRY = ROW_ENTRY_INSTRUCTION;
constexpr std::uint32_t RET = RETURN_INSTRUCTION;

std::unexpected<ExchangeError> fails(std::string_view message) {
  return std::unexpected(ExchangeError::schedule(message));
}

std::string text(const PlanOperation& operation) {
  std::ostringstream out;
  out << operation;
  return out.str();
}

TEST(DecodeOperation, EveryWordClass) {
  struct Case {
    Words words;
    std::string operation;
    std::uint32_t advance;
    std::uint32_t width;
  };
  const Case cases[] = {
      {{RET}, "Return", 0, 1},
      {{delay(50)}, "Delay", 51, 1},
      {{delay_pic(3, 1, 5)},
       "IncomingControl(IncomingControl { stream: Pic, value: 262149 })",
       4,
       1},
      {{delay_xpic(9, 1, 1600)},
       "IncomingControl(IncomingControl { stream: Xpic, value: 9792 })",
       10,
       1},
      {{0xF54A0109, 0x19015000},
       "Send { encoding: PicPair, words: 43, raw_operand: 81953, send_control: Some(1), controls: "
       "[IncomingControl { stream: Xpic, value: 1600 }, IncomingControl { stream: Pic, value: "
       "86016 }] }",
       43,
       2},
      {{0xF8000000, 0x00000001},
       "Send { encoding: PicPair, words: 1, raw_operand: 0, send_control: Some(0), controls: "
       "[IncomingControl { stream: Xpic, value: 0 }, IncomingControl { stream: Pic, value: "
       "262145 }] }",
       1,
       2},
      {{0x75B00005},
       "Send { encoding: Pic, words: 46, raw_operand: 5, send_control: None, controls: "
       "[IncomingControl { stream: Xpic, value: 5 }] }",
       46,
       1},
      {{0x70140640},
       "Send { encoding: Pic, words: 1, raw_operand: 1600, send_control: None, controls: "
       "[IncomingControl { stream: Xpic, value: 9792 }] }",
       1,
       1},
      {{0x77FC0002},
       "Send { encoding: Pic, words: 64, raw_operand: 2, send_control: None, controls: "
       "[IncomingControl { stream: Pic, value: 262146 }] }",
       64,
       1},
      {{0x7FE20001},
       "Send { encoding: Explicit, words: 64, raw_operand: 16384, send_control: Some(1), "
       "controls: [] }",
       64,
       1},
      {{0x77EFFFFF},
       "Send { encoding: Offset, words: 4096, raw_operand: 2047, send_control: Some(7), "
       "controls: [] }",
       4096,
       1},
      {{ENTRY}, "Sync(3)", 0, 1},
      {{0x418000FF}, "Sync(255)", 0, 1},
      {{0}, "Unknown(0)", 0, 1},
      {{0x19015000}, "Unknown(419516416)", 0, 1},
  };
  for (const Case& c : cases) {
    const auto decoded = decode_operation(c.words, 0);
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(text(decoded->operation), c.operation) << testing_support::hex(c.words[0]);
    EXPECT_EQ(decoded->advance, c.advance) << testing_support::hex(c.words[0]);
    EXPECT_EQ(decoded->width, c.width) << testing_support::hex(c.words[0]);
  }
  EXPECT_EQ(decode_operation(Words{0xF54A0109}, 0), fails("truncated SENDPICP payload"));
  EXPECT_EQ(decode_operation(Words{RET}, 1), fails("decode offset out of range"));
}

TEST(DiagnosePlanProgram, WalksEveryWordOfARow) {
  const Words row = {ENTRY, delay_xpic(112, 0, 5), 0xF0E00003, 0x40A00063, RET, 0, 0, 0, 0};
  const auto diagnostic = diagnose_plan_program(row, 0x1000);
  ASSERT_TRUE(diagnostic) << diagnostic.error();
  EXPECT_EQ(diagnostic->row_words, 9u);
  EXPECT_EQ(diagnostic->event_cycles, 113u + 8u);
  ASSERT_EQ(diagnostic->instructions.size(), 8u);
  EXPECT_EQ(diagnostic->instructions[0].operation, PlanOperation(Sync{3}));
  // The pair's payload word is never an instruction of its own.
  EXPECT_EQ(diagnostic->instructions[2].word_offset, 2u);
  EXPECT_EQ(diagnostic->instructions[3].word_offset, 4u);
  EXPECT_EQ(diagnostic->instructions[3].operation, PlanOperation(Return{}));
  EXPECT_EQ(diagnostic->instructions[3].address, 0x1010u);
  for (std::size_t i = 4; i < 8; ++i) {
    EXPECT_EQ(diagnostic->instructions[i].operation, PlanOperation(Unknown{0}));
  }
  EXPECT_EQ(diagnostic->instructions[2].start_cycle, 113u);
  EXPECT_EQ(diagnostic->instructions[2].end_cycle, 121u);
}

TEST(DiagnosePlanProgram, Failures) {
  EXPECT_EQ(diagnose_plan_program(Words{delay(0), 0xF0000000}, std::nullopt),
            fails("truncated SENDPICP payload"));
  const Words long_delays(8193, delay(0x7FFFF));
  EXPECT_EQ(diagnose_plan_program(long_delays, std::nullopt),
            fails("diagnostic event horizon overflow"));
  EXPECT_EQ(diagnose_plan_program(Words{RET, RET}, 0xFFFFFFFC),
            fails("diagnostic row address overflow"));
  EXPECT_TRUE(diagnose_plan_program(Words{RET}, 0xFFFFFFFC));
  const auto empty = diagnose_plan_program(Words{}, std::nullopt);
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, (PlanProgramDiagnostic{{}, 0, 0}));
}

TEST(ControlKey, PicBeforeXpicThenByValue) {
  const IncomingControl xpic{IncomingControlStream::Xpic, 5};
  const IncomingControl pic{IncomingControlStream::Pic, 0x3FFFF};
  EXPECT_EQ(control_key(xpic), (std::pair<std::uint8_t, std::uint32_t>{1, 5}));
  EXPECT_EQ(control_key(pic), (std::pair<std::uint8_t, std::uint32_t>{0, 0x3FFFF}));
  EXPECT_LT(control_key(pic), control_key(xpic));
}

// ---------------------------------------------------------------------------------------------
// Validation against a schedule
// ---------------------------------------------------------------------------------------------

// Selects mux 5 at 10, sets the pointer at 12, tears the mux down at 76 (at 74 once placed for
// 64 words); horizon 76.
const Row R = {ENTRY, 0x64024005, 0x60080100, 0x640FC640, RET, 0, 0, 0, 0};
// Sends 64 words from cycle 31.
const Row S = {ENTRY, delay(30), 0x7FE20001, RET, 0, 0, 0, 0, 0};

TileProgramSchedule receiving() {
  TileProgramSchedule schedule;
  EXPECT_TRUE(schedule.append_receiver_at(R, 0, 64));
  return schedule;
}

TileProgramSchedule sending(std::uint32_t offset) {
  TileProgramSchedule schedule;
  EXPECT_TRUE(schedule.append_sender_at(S, offset));
  return schedule;
}

TEST(ValidateTileProgram, AcceptsWhatTheScheduleEmits) {
  for (const TileProgramSchedule& schedule : {receiving(), sending(0), TileProgramSchedule{}}) {
    const auto program = schedule.finish();
    ASSERT_TRUE(program) << program.error();
    const auto diagnostic = validate_tile_program(0, schedule, *program);
    ASSERT_TRUE(diagnostic) << diagnostic.error();
    EXPECT_EQ(*diagnostic, *diagnose_plan_program(*program, std::nullopt));
  }
  const auto empty = validate_tile_program(0, TileProgramSchedule{}, Words{});
  ASSERT_TRUE(empty) << empty.error();
  EXPECT_TRUE(empty->instructions.empty());
}

TEST(ValidateTileProgram, ControlsTakeEffectWhenTheirCarrierSaysSo) {
  // Placed at 10: source at 20, pointer at 22, teardown at 84, horizon 86.
  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_receiver_at(R, 10, 64));
  // An XPIC delay issued at 10 with delay field 9 selects the source at 20.
  const Words by_delay = {delay(9), delay_xpic(9, 0, 5), 0x60080100, 0x640F4640, delay(1), RET};
  EXPECT_TRUE(validate_tile_program(0, schedule, by_delay));
  // A SENDPIC issued at 19 delivers it at 20 as well; the controls then agree and only its
  // unscheduled payload word is at fault.
  const Words by_send = {delay(18), 0x70100005, 0x60080100, 0x640F4640, delay(1), RET};
  EXPECT_EQ(validate_tile_program(0, schedule, by_send),
            fails("unexpected encoded outgoing interval"));
  // Issued at 20, it would deliver the source at 21.
  const Words one_late = {delay(19), 0x70100005, 0x60000100, 0x640F4640, delay(1), RET};
  EXPECT_EQ(validate_tile_program(0, schedule, one_late),
            fails("encoded incoming-control mismatch"));
}

TEST(ValidateTileProgram, FaultsInTheirOrder) {
  const TileProgramSchedule schedule = sending(69);  // payload [100, 164), horizon 164
  struct Case {
    const char* text;
    Words program;
    Result<std::uint32_t> expected;  // the diagnostic's event cycles
  };
  const auto ok = [](std::uint32_t cycles) { return Result<std::uint32_t>(cycles); };
  const std::uint32_t forty = *resize_send(0x7FE20001, 40);
  const Case cases[] = {
      {"as emitted", {delay(99), 0x7FE20001, RET}, ok(164)},
      {"two sends back to back", {delay(99), forty, send_off(23, 1, 0), RET}, ok(164)},
      {"one cycle longer", {delay(100), 0x7FE20001, RET}, fails("encoded tile horizon mismatch")},
      {"a zero word",
       {delay(99), 0x7FE20001, 0, RET},
       fails("unknown encoded exchange instruction")},
      {"a gap at 140",
       {delay(99), forty, delay(0), send_off(22, 1, 0), RET},
       fails("encoded sender interval mismatch")},
      {"first send at 101",
       {delay(100), forty, send_off(22, 1, 0), RET},
       fails("encoded sender interval mismatch")},
  };
  for (const Case& c : cases) {
    const auto diagnostic = validate_tile_program(0, schedule, c.program);
    const Result<std::uint32_t> actual = diagnostic
                                             ? Result<std::uint32_t>(diagnostic->event_cycles)
                                             : std::unexpected(diagnostic.error());
    EXPECT_EQ(actual, c.expected) << c.text << ": "
                                  << (diagnostic ? "ok" : to_string(diagnostic.error()));
  }
}

TEST(ValidateTileProgram, OutgoingSendsOnlyInsideMessages) {
  // A pair with send control 0 carries controls only; with send control 1 it would also send
  // data that nobody scheduled.
  TileProgramSchedule schedule;
  // Source at 10, pointer at 13; with three words the teardown moves onto the pointer write, and
  // one pair carries both.
  const Row same_cycle = {ENTRY, 0x64024005, 0x60100100, 0x640FC640, RET, 0, 0, 0, 0};
  ASSERT_TRUE(schedule.append_receiver_at(same_cycle, 0, 3));
  const auto program = schedule.finish();
  ASSERT_TRUE(program) << program.error();
  const auto pair = std::ranges::find_if(*program, is_send_control_pair);
  ASSERT_NE(pair, program->end()) << testing_support::hex_words(*program);
  EXPECT_TRUE(validate_tile_program(0, schedule, *program));
  Words sending_pair = *program;
  sending_pair[static_cast<std::size_t>(pair - program->begin())] |= 1;
  EXPECT_EQ(validate_tile_program(0, schedule, sending_pair),
            fails("unexpected encoded outgoing interval"));
}

TEST(ValidateTileProgram, ExpectedControlsKeepTheirFlagsAndSelectors) {
  // A paired receive: its source is expected as {Xpic, 0x2000}, its format start as
  // {Pic, 0x40001}.
  const Row near = {ENTRY,      0x64002000, 0x61A40001, 0x60098000, 0x64022640,
                    0x61A40000, 0x40A00006, RET,        0};
  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_receiver_at(near, 0, 64));
  const auto program = schedule.finish();
  ASSERT_TRUE(program) << program.error();
  EXPECT_TRUE(validate_tile_program(0, schedule, *program));
  Words without_flag = *program;
  ASSERT_EQ(without_flag[0], 0x64002000u);
  without_flag[0] = 0x64000000;
  EXPECT_EQ(validate_tile_program(0, schedule, without_flag),
            fails("encoded incoming-control mismatch"));
}

TEST(ValidateTileProgram, ReportsTheFirstControlDifference) {
  std::mutex mutex;
  std::vector<std::vector<log::Field>> events;
  const log::ScopedSubscriber capture(log::Subscriber{
      .enabled =
          [](const log::Callsite& site) { return site.target == "vantle_exchange::diagnostic"; },
      .on_event =
          [&](const log::Event& event) {
            const std::lock_guard lock(mutex);
            events.emplace_back(event.fields.begin(), event.fields.end());
          },
  });
  const TileProgramSchedule schedule = receiving();
  // One control more than the schedule, at the end: the trailing delay carries mux value 7.
  const Words extra = {0x64024005, 0x60080100, 0x640F4640, delay_xpic(1, 0, 7), RET};
  EXPECT_EQ(validate_tile_program(42, schedule, extra), fails("encoded incoming-control mismatch"));
  ASSERT_EQ(events.size(), 1u);
  const std::string source = "(10, IncomingControl { stream: Xpic, value: 5 })";
  const std::string pointer = "(12, IncomingControl { stream: Pic, value: 256 })";
  const std::string neutral = "(74, IncomingControl { stream: Xpic, value: 1600 })";
  const std::string added = "(76, IncomingControl { stream: Xpic, value: 7 })";
  const std::vector<log::Field> expected = {
      {"message", std::string("encoded incoming controls differ from the phase schedule")},
      {"tile", std::uint64_t{42}},
      {"first_mismatch", std::uint64_t{3}},
      {"actual_len", std::uint64_t{4}},
      {"expected_len", std::uint64_t{3}},
      {"actual", "Some(" + added + ")"},
      {"expected", std::string("None")},
      {"actual_window", "[" + source + ", " + pointer + ", " + neutral + ", " + added + "]"},
      {"expected_window", "[" + source + ", " + pointer + ", " + neutral + "]"},
  };
  EXPECT_EQ(events[0], expected);
  // A valid program emits nothing.
  EXPECT_TRUE(validate_tile_program(42, schedule, *schedule.finish()));
  EXPECT_EQ(events.size(), 1u);
}

}  // namespace
}  // namespace vantle_exchange::diagnostic
