#include <gtest/gtest.h>

#include <functional>

#include "test_support.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange {
namespace {

using testing_support::describe;
using testing_support::hex;

struct EncoderCase {
  const char* text;
  std::function<Result<std::uint32_t>()> encode;
  Result<std::uint32_t> expected;
};

Result<std::uint32_t> fails(std::string_view message) {
  return std::unexpected(ExchangeError::schedule(message));
}

TEST(Encoders, ProduceExactWordsOrTheirError) {
  const EncoderCase cases[] = {
      {"send(1, 3, 82041)", [] { return encode_send(1, 3, 82041); }, 0x782A03CB},
      {"send(1, 3, 82043)", [] { return encode_send(1, 3, 82043); }, 0x782A03DB},
      {"send(63, 7, 0x3FFFF)", [] { return encode_send(63, 7, 0x3FFFF); }, 0x7FFFFFFF},
      {"send(64, 3, 0)", [] { return encode_send(64, 3, 0); }, fails("send instruction operand")},
      {"send(1, 8, 0)", [] { return encode_send(1, 8, 0); }, fails("send instruction operand")},
      {"send(1, 3, 0x40000)", [] { return encode_send(1, 3, 0x40000); },
       fails("send instruction operand")},
      {"resize(0x78400001, 64)", [] { return resize_send(0x78400001, 64); }, 0x7FE00001},
      {"resize(0x78400001, 1)", [] { return resize_send(0x78400001, 1); }, 0x78000001},
      {"resize(sendoff, 2)", [] { return resize_send(0x70000001, 2); }, fails("initial send size")},
      {"resize(0x78400001, 0)", [] { return resize_send(0x78400001, 0); },
       fails("initial send size")},
      {"resize(0x78400001, 65)", [] { return resize_send(0x78400001, 65); },
       fails("initial send size")},
      {"setzi(15, 0xFFFFF)", [] { return encode_setzi_m(15, 0xFFFFF); }, 0x19FFFFFF},
      {"setzi(16, 0)", [] { return encode_setzi_m(16, 0); }, fails("setzi operand")},
      {"setzi(0, 0x100000)", [] { return encode_setzi_m(0, 0x100000); }, fails("setzi operand")},
      {"put(166, 8)", [] { return encode_put_special_m(166, 8); }, 0x438080A6},
      {"put(0x12, 8)", [] { return encode_put_special_m(0x12, 8); }, put_special_from_m8(0x12)},
      {"put(255, 0)", [] { return encode_put_special_m(255, 0); }, 0x430080FF},
      {"put(0, 16)", [] { return encode_put_special_m(0, 16); }, fails("put source register")},
      {"br(10)", [] { return encode_br_m(10); }, 0x43A00000},
      {"br(16)", [] { return encode_br_m(16); }, fails("branch register")},
      {"call(10, 0x4C100)", [] { return encode_call_m_immediate(10, 0x4C100); }, 0x18A13040},
      {"call(0, 0x1FFFFC)", [] { return encode_call_m_immediate(0, 0x1FFFFC); }, 0x1807FFFF},
      {"call(16, 0)", [] { return encode_call_m_immediate(16, 0); }, fails("call operand")},
      {"call(0, 2)", [] { return encode_call_m_immediate(0, 2); }, fails("call operand")},
      {"call(0, 0x200000)", [] { return encode_call_m_immediate(0, 0x200000); },
       fails("call operand")},
      {"brz(0, 0x4C100)", [] { return encode_brz_m_immediate(0, 0x4C100); }, 0x13013040},
      {"brz(16, 0)", [] { return encode_brz_m_immediate(16, 0); }, fails("brz operand")},
      {"brz(0, 6)", [] { return encode_brz_m_immediate(0, 6); }, fails("brz operand")},
      {"brz(0, 0x200000)", [] { return encode_brz_m_immediate(0, 0x200000); },
       fails("brz operand")},
      {"ld32(8, 11, 15, 1)", [] { return encode_ld32_m_immediate(8, 11, 15, 1); }, 0x01B8F001},
      {"ld32(16, 0, 0, 0)", [] { return encode_ld32_m_immediate(16, 0, 0, 0); },
       fails("ld32 operand")},
      {"ld32(0, 0, 16, 0)", [] { return encode_ld32_m_immediate(0, 0, 16, 0); },
       fails("ld32 operand")},
      {"ld32(0, 0, 0, 4096)", [] { return encode_ld32_m_immediate(0, 0, 0, 4096); },
       fails("ld32 operand")},
      {"st32(2, 11, 15, 0)", [] { return encode_st32_m_immediate(2, 11, 15, 0); }, 0x4FB2F000},
      {"st32(0, 16, 0, 0)", [] { return encode_st32_m_immediate(0, 16, 0, 0); },
       fails("st32 operand")},
      {"st32(0, 0, 0, 4096)", [] { return encode_st32_m_immediate(0, 0, 0, 4096); },
       fails("st32 operand")},
      {"add(11, 11, -32)", [] { return encode_add_m_immediate(11, 11, -32); }, 0x22BBFFE0},
      {"add(1, 2, -32768)", [] { return encode_add_m_immediate(1, 2, -32768); }, 0x22218000},
      {"add(1, 2, 32767)", [] { return encode_add_m_immediate(1, 2, 32767); }, 0x22217FFF},
      {"add(1, 2, 32768)", [] { return encode_add_m_immediate(1, 2, 32768); },
       fails("add immediate operand")},
      // The immediate is tested before the registers.
      {"add(16, 2, -32769)", [] { return encode_add_m_immediate(16, 2, -32769); },
       fails("add immediate operand")},
      {"add(16, 2, 0)", [] { return encode_add_m_immediate(16, 2, 0); },
       fails("add register operand")},
      {"add(1, 16, 0)", [] { return encode_add_m_immediate(1, 16, 0); },
       fails("add register operand")},
      {"and(0, 8, 1)", [] { return encode_and_m_immediate(0, 8, 1); }, 0x42800001},
      {"and(0, 8, 4096)", [] { return encode_and_m_immediate(0, 8, 4096); }, fails("and operand")},
      {"and(16, 8, 1)", [] { return encode_and_m_immediate(16, 8, 1); }, fails("and operand")},
      {"shl(10, 7, 2)", [] { return encode_shl_m_immediate(10, 7, 2); }, 0x427AA002},
      {"shl(0, 0, 4096)", [] { return encode_shl_m_immediate(0, 0, 4096); },
       fails("shift-left operand")},
      {"shl(0, 16, 0)", [] { return encode_shl_m_immediate(0, 16, 0); },
       fails("shift-left operand")},
  };
  for (const EncoderCase& c : cases) {
    const Result<std::uint32_t> actual = c.encode();
    EXPECT_EQ(actual, c.expected) << c.text << ": got " << describe(actual) << ", want "
                                  << describe(c.expected);
  }
}

TEST(Encoders, ShortEncodersMaskTheirFields) {
  struct Case {
    std::uint32_t word;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {delay(0), 0x40A00000},
      {delay(0x7FFFF), 0x40A7FFFF},
      {delay(0x80000), 0x40A00000},
      {delay_pic(127, 1, 0x3FFFF), 0x63FFFFFF},
      {delay_pic(128, 2, 0x40000), 0x60000000},
      {delay_xpic(4095, 1, 0x1FFF), 0x67FFFFFF},
      {delay_xpic(112, 0, 0), 0x641C0000},
      {delay_xpic(4096, 2, 0x2000), 0x64000000},
      {send_off(4095, 7, 0x7FF), 0x77EFFFFF},
      {send_off(0x1000, 8, 0x800), 0x70000000},
      {br_m(10), RETURN_INSTRUCTION},
      {setzi_m(1, 5), 0x19100005},
      {put_special_from_m8(0x12), 0x43808012},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex(c.word), hex(c.expected));
  }
}

TEST(CycleModel, AdvanceOfEveryWordClass) {
  struct Case {
    std::uint32_t word;
    std::uint32_t advance;
  };
  const Case cases[] = {
      {delay(0), 1},
      {delay(0x7FFFF), 524288},
      {delay_pic(127, 1, 0x3FFFF), 128},
      {delay_xpic(4095, 1, 0x1FFF), 4096},
      {delay_xpic(112, 0, 0), 113},
      {0x78400001, 3},
      {0x7FE00002, 64},
      {0xF0E00003, 8},  // SENDPICP first word
      {0x70140005, 1},  // SENDPIC
      {send_off(4095, 7, 0x7FF), 4096},
      {0x766FC001, 4084},
      {ROW_ENTRY_INSTRUCTION, 0},
      {SYNC_ALL_INSTRUCTION, 0},
      {SYNC_HOST_INSTRUCTION, 0},
      {RETURN_INSTRUCTION, 0},
      {0x19FFFFFF, 0},
      {0x438080A6, 0},
      {0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(instruction_advance(c.word), c.advance) << hex(c.word);
  }
}

TEST(CycleModel, SetAdvanceRewritesOnlyTheCycleField) {
  struct Case {
    std::uint32_t word;
    std::uint32_t advance;
    Result<std::uint32_t> expected;
  };
  const Case cases[] = {
      {delay_pic(0, 1, 5), 128, 0x63FC0005},
      {delay_pic(0, 1, 5), 129, fails("PIC delay advance overflow")},
      {delay_pic(0, 1, 5), 0, fails("zero event advance")},
      {delay_xpic(0, 1, 1600), 4096, 0x67FFE640},
      {delay_xpic(0, 1, 1600), 4097, fails("XPIC delay advance overflow")},
      {delay(7), 524288, 0x40A7FFFF},
      {delay(7), 1, 0x40A00000},
      {delay(7), 524289, fails("delay advance overflow")},
      {0x78400001, 5, fails("scheduled offset truncates a send")},
      {0x70000001, 5, fails("scheduled offset truncates a send")},
      {0x70140005, 5, fails("scheduled offset truncates a send")},
      {ROW_ENTRY_INSTRUCTION, 5, fails("first scheduled event is not a delay")},
      {0xF0E00003, 5, fails("first scheduled event is not a delay")},
      // A zero advance is refused before the word is even looked at.
      {ROW_ENTRY_INSTRUCTION, 0, fails("zero event advance")},
  };
  for (const Case& c : cases) {
    std::uint32_t word = c.word;
    const Status status = set_instruction_advance(word, c.advance);
    const Result<std::uint32_t> actual =
        status ? Result<std::uint32_t>(word) : std::unexpected(status.error());
    EXPECT_EQ(actual, c.expected) << hex(c.word) << " to " << c.advance << ": got "
                                  << describe(actual);
    if (!status) {
      EXPECT_EQ(word, c.word) << "a failed rewrite changed " << hex(c.word);
    } else {
      EXPECT_EQ(instruction_advance(word), c.advance);
    }
  }
}

TEST(CycleModel, MaximumTimedAdvanceOnlyForControlDelays) {
  EXPECT_EQ(maximum_timed_instruction_advance(delay_pic(0, 0, 0)), 128u);
  EXPECT_EQ(maximum_timed_instruction_advance(delay_xpic(0, 0, 0)), 4096u);
  EXPECT_EQ(maximum_timed_instruction_advance(delay(5)), std::nullopt);
  EXPECT_EQ(maximum_timed_instruction_advance(0x78400001), std::nullopt);
}

TEST(Predicates, ClassifyWords) {
  EXPECT_TRUE(is_neutral_mux_teardown(delay_xpic(3, 1, 1600)));
  EXPECT_TRUE(is_neutral_mux_teardown(delay_xpic(3, 0, 1600)));
  EXPECT_FALSE(is_neutral_mux_teardown(delay_xpic(3, 0, 1601)));
  EXPECT_FALSE(is_neutral_mux_teardown(delay_pic(3, 0, 1600)));

  EXPECT_TRUE(is_send_off(0x70000001));
  EXPECT_FALSE(is_send_off(0x70100001));
  EXPECT_TRUE(is_send_control(0x70100001));
  EXPECT_TRUE(is_send_control_pair(0xF0000000));
  EXPECT_TRUE(is_send_control_pair(0xFFFFFFFF));
  EXPECT_FALSE(is_send_control_pair(0xEFFFFFFF));
  EXPECT_TRUE(is_payload_send(0x78400001));
  EXPECT_TRUE(is_payload_send(0x70000001));
  EXPECT_FALSE(is_payload_send(0x70100001));
  EXPECT_FALSE(is_payload_send(0xF0E00003));
}

}  // namespace
}  // namespace vantle_exchange
