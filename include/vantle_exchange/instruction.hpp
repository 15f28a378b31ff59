#pragma once

// Instruction words: their bit layouts, encoders, predicates and the cycle model.
//
// Every program the library builds is a sequence of 32-bit words for one tile. Exchange words
// time the tile's traffic (sends, delays that carry receive controls, syncs, the return word);
// scalar words are the few register operations that host programs need. The advance of a word
// is the number of exchange cycles it occupies on the tile's timeline; delays store advance - 1.

#include <cstdint>
#include <optional>

#include "vantle_exchange/error.hpp"

namespace vantle_exchange {

// ---------------------------------------------------------------------------------------------
// Named constants
// ---------------------------------------------------------------------------------------------

/// Fixed bits of a SEND word.
inline constexpr std::uint32_t SEND_OPCODE = 0x78000000;
/// The five opcode bits of SEND, SENDOFF and SENDPIC words.
inline constexpr std::uint32_t LONG_OPCODE_MASK = 0xF8000000;
/// The six opcode bits of PIC and XPIC delay words.
inline constexpr std::uint32_t OPCODE_MASK = 0xFC000000;
/// Fixed bits of an XPIC delay word.
inline constexpr std::uint32_t DELAY_XPIC_OPCODE = 0x64000000;
/// Fixed bits of a PIC delay word.
inline constexpr std::uint32_t DELAY_PIC_OPCODE = 0x60000000;
/// The neutral mux value: the receive mux selects no sender.
inline constexpr std::uint32_t TILE_MUX_EXCHANGE = 0x640;
/// Sync word with operand 7, used around host operations.
inline constexpr std::uint32_t SYNC_ALL_INSTRUCTION = 0x41800007;
/// Sync word with operand 15, used around host operations.
inline constexpr std::uint32_t SYNC_HOST_INSTRUCTION = 0x4180000F;
/// Sync word with operand 3: word 0 of every executable sender and receiver row.
inline constexpr std::uint32_t ROW_ENTRY_INSTRUCTION = 0x41800003;
/// BR through m10: ends every row and every tile program.
inline constexpr std::uint32_t RETURN_INSTRUCTION = 0x43A00000;

/// Largest advance of a plain delay word (19-bit cycle field).
inline constexpr std::uint32_t MAXIMUM_DELAY_ADVANCE = 0x80000;
/// Largest advance of a PIC delay word (7-bit cycle field).
inline constexpr std::uint32_t MAXIMUM_PIC_DELAY_ADVANCE = 128;
/// Largest advance of an XPIC delay word (12-bit cycle field).
inline constexpr std::uint32_t MAXIMUM_XPIC_DELAY_ADVANCE = 4096;

// ---------------------------------------------------------------------------------------------
// Predicates
// ---------------------------------------------------------------------------------------------

/// SEND: bits 31..27 = 01111.
constexpr bool is_send(std::uint32_t instruction) {
  return (instruction & LONG_OPCODE_MASK) == SEND_OPCODE;
}

/// SENDOFF: bits 31..27 = 01110 and bit 20 clear.
constexpr bool is_send_off(std::uint32_t instruction) {
  return (instruction & 0xF8100000) == 0x70000000;
}

/// SENDPIC, a send that also carries one receive control: bits 31..27 = 01110 and bit 20 set.
constexpr bool is_send_control(std::uint32_t instruction) {
  return (instruction & 0xF8100000) == 0x70100000;
}

/// First word of a SENDPICP pair: bits 31..28 = 1111. The word after it is its payload.
constexpr bool is_send_control_pair(std::uint32_t instruction) {
  return (instruction & 0xF0000000) == 0xF0000000;
}

/// A send that carries only payload: SEND or SENDOFF.
constexpr bool is_payload_send(std::uint32_t instruction) {
  return is_send(instruction) || is_send_off(instruction);
}

/// Plain delay: bits 31..19 fixed.
constexpr bool is_delay(std::uint32_t instruction) {
  return (instruction & 0xFFF80000) == 0x40A00000;
}

/// Delay that writes a PIC control when it runs out.
constexpr bool is_delay_pic(std::uint32_t instruction) {
  return (instruction & OPCODE_MASK) == DELAY_PIC_OPCODE;
}

/// Delay that writes an XPIC control when it runs out.
constexpr bool is_delay_xpic(std::uint32_t instruction) {
  return (instruction & OPCODE_MASK) == DELAY_XPIC_OPCODE;
}

/// An XPIC delay that sets the mux to the neutral value; the paired flag is ignored.
constexpr bool is_neutral_mux_teardown(std::uint32_t instruction) {
  return is_delay_xpic(instruction) && (instruction & 0x1FFF) == TILE_MUX_EXCHANGE;
}

// ---------------------------------------------------------------------------------------------
// Exchange encoders that cannot fail
// ---------------------------------------------------------------------------------------------

/// Plain delay; lasts (cycles AND 0x7FFFF) + 1 cycles.
///
///   31                  19 18                    0
///  +----------------------+-----------------------+
///  | 0100 0000 1010 0     |  advance - 1          |
///  +----------------------+-----------------------+
constexpr std::uint32_t encode_exchange_delay(std::uint32_t cycles) {
  return 0x40A00000 | (cycles & 0x7FFFF);
}
constexpr std::uint32_t delay(std::uint32_t cycles) {
  return encode_exchange_delay(cycles);
}

/// PIC delay: the PIC control (selector b, value c) takes effect when the delay runs out.
///
///   31    26 25         19  18  17                0
///  +--------+-------------+---+-------------------+
///  | 011000 | advance - 1 | b |  PIC value        |
///  +--------+-------------+---+-------------------+
constexpr std::uint32_t encode_exchange_delay_pic(std::uint32_t a, std::uint32_t b,
                                                  std::uint32_t c) {
  return DELAY_PIC_OPCODE | ((a << 19) & 0x03F80000) | ((b << 18) & 0x00040000) | (c & 0x3FFFF);
}
constexpr std::uint32_t delay_pic(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  return encode_exchange_delay_pic(a, b, c);
}

/// XPIC delay: the mux control (paired flag b, mux value c) takes effect when the delay runs out.
///
///   31    26 25             14  13  12          0
///  +--------+-----------------+---+-------------+
///  | 011001 |   advance - 1   | b |  mux value  |
///  +--------+-----------------+---+-------------+
constexpr std::uint32_t encode_exchange_delay_xpic(std::uint32_t a, std::uint32_t b,
                                                   std::uint32_t c) {
  return DELAY_XPIC_OPCODE | ((a << 14) & 0x03FFC000) | ((b << 13) & 0x2000) | (c & 0x1FFF);
}
constexpr std::uint32_t delay_xpic(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  return encode_exchange_delay_xpic(a, b, c);
}

/// SENDOFF: sends up to 4096 words from an 11-bit word address; fields are masked.
///
///   31   27 26        21 20 19        14 13         3 2    0
///  +-------+------------+--+------------+------------+------+
///  | 01110 | count[5:0] | 0| count[11:6]| base_word  | ctrl |
///  +-------+------------+--+------------+------------+------+
constexpr std::uint32_t send_off(std::uint32_t count_minus_one, std::uint32_t direction,
                                 std::uint32_t base_word) {
  return 0x70000000 | ((count_minus_one << 21) & 0x07E00000) |
         (((count_minus_one >> 6) << 14) & 0x000FC000) | ((base_word << 3) & 0x3FF8) |
         (direction & 7);
}

// ---------------------------------------------------------------------------------------------
// Exchange encoders that test their operands
// ---------------------------------------------------------------------------------------------

/// SEND of count_minus_one + 1 words (at most 64) from an 18-bit word address.
///
///   31   27 26        21 20                 3 2    0
///  +-------+------------+--------------------+------+
///  | 01111 | count - 1  |     base_word      | ctrl |
///  +-------+------------+--------------------+------+
///
/// Fails with "send instruction operand" when count_minus_one > 63, direction > 7 or
/// base_word > 0x3FFFF.
Result<std::uint32_t> encode_send(std::uint32_t count_minus_one, std::uint32_t direction,
                                  std::uint32_t base_word);

/// `instruction` with its count field set to `words` - 1. Fails with "initial send size" unless
/// `instruction` is a SEND word and 1 <= words <= 64.
Result<std::uint32_t> resize_send(std::uint32_t instruction, std::uint32_t words);

// ---------------------------------------------------------------------------------------------
// Scalar encoders
// ---------------------------------------------------------------------------------------------

/// BR through general register `register_index` (at most 15; not tested).
constexpr std::uint32_t br_m(std::uint8_t register_index) {
  return 0x43000000 | (std::uint32_t{register_index} << 20);
}

/// SETZI of a 20-bit immediate into a general register (ranges not tested).
constexpr std::uint32_t setzi_m(std::uint8_t register_index, std::uint32_t immediate) {
  return 0x19000000 | (std::uint32_t{register_index} << 20) | immediate;
}

/// PUT that copies m8 into the special register `special`.
constexpr std::uint32_t put_special_from_m8(std::uint8_t special) {
  return 0x43808000 | std::uint32_t{special};
}

/// SETZI: bits 31..24 = 0x19, register in 23..20, immediate in 19..0.
/// Fails with "setzi operand" when register_index > 15 or immediate > 0xFFFFF.
Result<std::uint32_t> encode_setzi_m(std::uint8_t register_index, std::uint32_t immediate);

/// PUT of general register `register_index` into special register `special`: bits 31..24 =
/// 0x43, source register in 23..20, bit 15 set, special register in 7..0.
/// Fails with "put source register" when register_index > 15.
Result<std::uint32_t> encode_put_special_m(std::uint8_t special, std::uint8_t register_index);

/// BR: bits 31..24 = 0x43, register in 23..20. Fails with "branch register" when > 15.
Result<std::uint32_t> encode_br_m(std::uint8_t register_index);

/// CALL to a byte address below 0x200000, return address in `return_register`: bits 31..24 =
/// 0x18, register in 23..20, target word address in 19..0.
/// Fails with "call operand" on a register above 15 or a target not word aligned or too far.
Result<std::uint32_t> encode_call_m_immediate(std::uint8_t return_register,
                                              std::uint32_t target_address);

/// BRZ to a byte address below 0x200000: bits 31..24 = 0x13, register in 23..20.
/// Fails with "brz operand" under the conditions of CALL.
Result<std::uint32_t> encode_brz_m_immediate(std::uint8_t register_index,
                                             std::uint32_t target_address);

/// LD32: bits 31..24 = 0x01, base 23..20, destination 19..16, delta 15..12, word offset 11..0.
/// Fails with "ld32 operand" on a register above 15 or a word offset above 4095.
Result<std::uint32_t> encode_ld32_m_immediate(std::uint8_t destination, std::uint8_t base,
                                              std::uint8_t delta, std::uint16_t word_offset);

/// ST32: bits 31..24 = 0x4F, base 23..20, source 19..16, delta 15..12, word offset 11..0.
/// Fails with "st32 operand" on a register above 15 or a word offset above 4095.
Result<std::uint32_t> encode_st32_m_immediate(std::uint8_t source, std::uint8_t base,
                                              std::uint8_t delta, std::uint16_t word_offset);

/// ADD: bits 31..24 = 0x22, source 23..20, destination 19..16, 16-bit immediate in 15..0.
/// Fails with "add immediate operand" when the immediate leaves -32768..32767 (tested first),
/// then with "add register operand" on a register above 15.
Result<std::uint32_t> encode_add_m_immediate(std::uint8_t destination, std::uint8_t source,
                                             std::int32_t immediate);

/// AND: bits 31..24 = 0x42, source 23..20, destination 19..16, bits 15..12 = 0, immediate 11..0.
/// Fails with "and operand" on a register above 15 or an immediate above 4095.
Result<std::uint32_t> encode_and_m_immediate(std::uint8_t destination, std::uint8_t source,
                                             std::uint16_t immediate);

/// SHL: bits 31..24 = 0x42, source 23..20, destination 19..16, bits 15..12 = 0xA, immediate 11..0.
/// Fails with "shift-left operand" on a register above 15 or an immediate above 4095.
Result<std::uint32_t> encode_shl_m_immediate(std::uint8_t destination, std::uint8_t source,
                                             std::uint16_t immediate);

// ---------------------------------------------------------------------------------------------
// Cycle model
// ---------------------------------------------------------------------------------------------

/// The cycles a word occupies on the tile's event timeline; 0 for sync, return and scalar words.
/// A SENDPICP payload word is classified by its own bits: walkers step over it instead.
constexpr std::uint32_t instruction_advance(std::uint32_t instruction) {
  const std::uint32_t count_field = (instruction >> 21) & 0x3F;
  if (is_delay(instruction)) {
    return (instruction & 0x7FFFF) + 1;
  }
  if (is_delay_pic(instruction)) {
    return ((instruction >> 19) & 0x7F) + 1;
  }
  if (is_delay_xpic(instruction)) {
    return ((instruction >> 14) & 0xFFF) + 1;
  }
  if (is_send(instruction) || is_send_control_pair(instruction) || is_send_control(instruction)) {
    return count_field + 1;
  }
  if (is_send_off(instruction)) {
    return (count_field | (((instruction >> 14) & 0x3F) << 6)) + 1;
  }
  return 0;
}

/// Rewrites the cycle field of a delay word so that it lasts `advance` cycles; every other bit,
/// the control it carries in particular, stays. On failure the word is left unchanged.
Status set_instruction_advance(std::uint32_t& instruction, std::uint32_t advance);

/// The largest advance a control-carrying delay can hold: 128 for a PIC delay, 4096 for an XPIC
/// delay, nothing for any other word.
constexpr std::optional<std::uint32_t> maximum_timed_instruction_advance(
    std::uint32_t instruction) {
  if (is_delay_pic(instruction)) {
    return MAXIMUM_PIC_DELAY_ADVANCE;
  }
  if (is_delay_xpic(instruction)) {
    return MAXIMUM_XPIC_DELAY_ADVANCE;
  }
  return std::nullopt;
}

}  // namespace vantle_exchange
