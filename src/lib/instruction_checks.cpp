// Checks of the instruction encoders.

#include "checks/check.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange::tests {
namespace {

constexpr std::uint32_t register_field(std::uint32_t word) {
  return (word >> 20) & 0xF;
}

}  // namespace

VANTLE_EXCHANGE_CHECK("tests", scalar_instruction_encoders_preserve_operands_and_reject_overflow) {
  VANTLE_EXCHANGE_MUST(setzi, encode_setzi_m(15, 0xFFFFF));
  ASSERT_EQ(register_field(setzi), 15u);
  ASSERT_EQ(setzi & 0xFFFFF, 0xFFFFFu);

  VANTLE_EXCHANGE_MUST(put, encode_put_special_m(166, 8));
  ASSERT_EQ(register_field(put), 8u);
  ASSERT_EQ(put & 0xFF, 166u);

  VANTLE_EXCHANGE_MUST(branch, encode_br_m(10));
  ASSERT_EQ(register_field(branch), 10u);

  VANTLE_EXCHANGE_MUST(call, encode_call_m_immediate(10, 0x4C100));
  ASSERT_EQ(register_field(call), 10u);
  ASSERT_EQ((call & 0x7FFFF) * 4, 0x4C100u);

  ASSERT_FALSE(encode_setzi_m(16, 0).has_value());
  ASSERT_FALSE(encode_setzi_m(0, 1u << 20).has_value());
  ASSERT_FALSE(encode_put_special_m(0, 16).has_value());
  ASSERT_FALSE(encode_br_m(16).has_value());
  ASSERT_FALSE(encode_call_m_immediate(16, 0).has_value());
  ASSERT_FALSE(encode_call_m_immediate(0, 2).has_value());
  ASSERT_FALSE(encode_call_m_immediate(0, 1u << 21).has_value());

  ASSERT_EQ(encode_ld32_m_immediate(8, 11, 15, 1), 0x01B8F001u);
  ASSERT_EQ(encode_st32_m_immediate(2, 11, 15, 0), 0x4FB2F000u);
  ASSERT_EQ(encode_add_m_immediate(11, 11, -32), 0x22BBFFE0u);
  ASSERT_EQ(encode_and_m_immediate(0, 8, 1), 0x42800001u);
  ASSERT_EQ(encode_shl_m_immediate(10, 7, 2), 0x427AA002u);
  ASSERT_FALSE(encode_shl_m_immediate(0, 0, 1u << 12).has_value());
  ASSERT_EQ(encode_brz_m_immediate(0, 0x4C100), 0x13013040u);
}

VANTLE_EXCHANGE_CHECK("tests", encodes_supervisor_send_fields) {
  ASSERT_EQ(encode_send(1, 3, 82041), 0x782A03CBu);
  ASSERT_EQ(encode_send(1, 3, 82043), 0x782A03DBu);
  ASSERT_FALSE(encode_send(64, 3, 0).has_value());
  ASSERT_FALSE(encode_send(1, 8, 0).has_value());
  ASSERT_FALSE(encode_send(1, 3, 0x40000).has_value());
}

}  // namespace vantle_exchange::tests
