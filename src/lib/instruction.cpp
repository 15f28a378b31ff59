#include "vantle_exchange/instruction.hpp"
#include "failure.hpp"

namespace vantle_exchange {
namespace {

constexpr std::uint8_t MAXIMUM_REGISTER = 15;
constexpr std::uint32_t MAXIMUM_IMMEDIATE_20 = 0xFFFFF;
constexpr std::uint32_t MAXIMUM_IMMEDIATE_12 = 0xFFF;
// CALL and BRZ hold a 19-bit word address: byte targets below 2 MiB.
constexpr std::uint32_t BRANCH_TARGET_LIMIT = 0x200000;

constexpr bool is_register(std::uint8_t index) {
  return index <= MAXIMUM_REGISTER;
}

constexpr std::uint32_t field(std::uint32_t value, unsigned shift) {
  return value << shift;
}

constexpr bool is_branch_target(std::uint32_t target_address) {
  return target_address % 4 == 0 && target_address < BRANCH_TARGET_LIMIT;
}

// The register-register-immediate layout shared by ADD, AND and SHL:
// opcode 31..24, source 23..20, destination 19..16, operand 15..0.
constexpr std::uint32_t alu_word(std::uint32_t opcode, std::uint8_t source,
                                 std::uint8_t destination, std::uint32_t operand) {
  return field(opcode, 24) | field(source, 20) | field(destination, 16) | operand;
}

// The memory layout shared by LD32 and ST32:
// opcode 31..24, base 23..20, data register 19..16, delta 15..12, word offset 11..0.
constexpr std::uint32_t memory_word(std::uint32_t opcode, std::uint8_t data, std::uint8_t base,
                                    std::uint8_t delta, std::uint16_t word_offset) {
  return field(opcode, 24) | field(base, 20) | field(data, 16) | field(delta, 12) | word_offset;
}

constexpr bool memory_operands_fit(std::uint8_t data, std::uint8_t base, std::uint8_t delta,
                                   std::uint16_t word_offset) {
  return is_register(data) && is_register(base) && is_register(delta) &&
         word_offset <= MAXIMUM_IMMEDIATE_12;
}

constexpr std::uint32_t SHL_FUNCTION = 0xA;

}  // namespace

Result<std::uint32_t> encode_send(std::uint32_t count_minus_one, std::uint32_t direction,
                                  std::uint32_t base_word) {
  if (count_minus_one > 63 || direction > 7 || base_word > 0x3FFFF) {
    return detail::fail(message::SEND_INSTRUCTION_OPERAND);
  }
  return SEND_OPCODE | (count_minus_one << 21) | (base_word << 3) | direction;
}

Result<std::uint32_t> resize_send(std::uint32_t instruction, std::uint32_t words) {
  if (!is_send(instruction) || words < 1 || words > 64) {
    return detail::fail(message::INITIAL_SEND_SIZE);
  }
  return (instruction & 0xF81FFFFF) | ((words - 1) << 21);
}

Result<std::uint32_t> encode_setzi_m(std::uint8_t register_index, std::uint32_t immediate) {
  if (!is_register(register_index) || immediate > MAXIMUM_IMMEDIATE_20) {
    return detail::fail(message::SETZI_OPERAND);
  }
  return setzi_m(register_index, immediate);
}

Result<std::uint32_t> encode_put_special_m(std::uint8_t special, std::uint8_t register_index) {
  if (!is_register(register_index)) {
    return detail::fail(message::PUT_SOURCE_REGISTER);
  }
  return 0x43008000 | field(register_index, 20) | special;
}

Result<std::uint32_t> encode_br_m(std::uint8_t register_index) {
  if (!is_register(register_index)) {
    return detail::fail(message::BRANCH_REGISTER);
  }
  return br_m(register_index);
}

Result<std::uint32_t> encode_call_m_immediate(std::uint8_t return_register,
                                              std::uint32_t target_address) {
  if (!is_register(return_register) || !is_branch_target(target_address)) {
    return detail::fail(message::CALL_OPERAND);
  }
  return field(0x18, 24) | field(return_register, 20) | (target_address / 4);
}

Result<std::uint32_t> encode_brz_m_immediate(std::uint8_t register_index,
                                             std::uint32_t target_address) {
  if (!is_register(register_index) || !is_branch_target(target_address)) {
    return detail::fail(message::BRZ_OPERAND);
  }
  return field(0x13, 24) | field(register_index, 20) | (target_address / 4);
}

Result<std::uint32_t> encode_ld32_m_immediate(std::uint8_t destination, std::uint8_t base,
                                              std::uint8_t delta, std::uint16_t word_offset) {
  if (!memory_operands_fit(destination, base, delta, word_offset)) {
    return detail::fail(message::LD32_OPERAND);
  }
  return memory_word(0x01, destination, base, delta, word_offset);
}

Result<std::uint32_t> encode_st32_m_immediate(std::uint8_t source, std::uint8_t base,
                                              std::uint8_t delta, std::uint16_t word_offset) {
  if (!memory_operands_fit(source, base, delta, word_offset)) {
    return detail::fail(message::ST32_OPERAND);
  }
  return memory_word(0x4F, source, base, delta, word_offset);
}

Result<std::uint32_t> encode_add_m_immediate(std::uint8_t destination, std::uint8_t source,
                                             std::int32_t immediate) {
  if (immediate < -32768 || immediate > 32767) {
    return detail::fail(message::ADD_IMMEDIATE_OPERAND);
  }
  if (!is_register(destination) || !is_register(source)) {
    return detail::fail(message::ADD_REGISTER_OPERAND);
  }
  const auto twos_complement = static_cast<std::uint32_t>(immediate) & 0xFFFF;
  return alu_word(0x22, source, destination, twos_complement);
}

Result<std::uint32_t> encode_and_m_immediate(std::uint8_t destination, std::uint8_t source,
                                             std::uint16_t immediate) {
  if (!is_register(destination) || !is_register(source) || immediate > MAXIMUM_IMMEDIATE_12) {
    return detail::fail(message::AND_OPERAND);
  }
  return alu_word(0x42, source, destination, immediate);
}

Result<std::uint32_t> encode_shl_m_immediate(std::uint8_t destination, std::uint8_t source,
                                             std::uint16_t immediate) {
  if (!is_register(destination) || !is_register(source) || immediate > MAXIMUM_IMMEDIATE_12) {
    return detail::fail(message::SHIFT_LEFT_OPERAND);
  }
  return alu_word(0x42, source, destination, field(SHL_FUNCTION, 12) | immediate);
}

Status set_instruction_advance(std::uint32_t& instruction, std::uint32_t advance) {
  if (advance == 0) {
    return detail::fail(message::ZERO_EVENT_ADVANCE);
  }
  const std::uint32_t cycle_field = advance - 1;
  if (is_delay(instruction)) {
    if (advance > MAXIMUM_DELAY_ADVANCE) {
      return detail::fail(message::DELAY_ADVANCE_OVERFLOW);
    }
    instruction = (instruction & 0xFFF80000) | cycle_field;
    return {};
  }
  if (is_delay_pic(instruction)) {
    if (advance > MAXIMUM_PIC_DELAY_ADVANCE) {
      return detail::fail(message::PIC_DELAY_ADVANCE_OVERFLOW);
    }
    instruction = (instruction & 0xFC07FFFF) | (cycle_field << 19);
    return {};
  }
  if (is_delay_xpic(instruction)) {
    if (advance > MAXIMUM_XPIC_DELAY_ADVANCE) {
      return detail::fail(message::XPIC_DELAY_ADVANCE_OVERFLOW);
    }
    instruction = (instruction & 0xFC003FFF) | (cycle_field << 14);
    return {};
  }
  if (is_payload_send(instruction) || is_send_control(instruction)) {
    return detail::fail(message::SCHEDULED_OFFSET_TRUNCATES_A_SEND);
  }
  return detail::fail(message::FIRST_SCHEDULED_EVENT_IS_NOT_A_DELAY);
}

}  // namespace vantle_exchange
