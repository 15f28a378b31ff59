#include "failure.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/plan.hpp"

namespace vantle_exchange {
namespace {

// Source address field of SEND and SENDPICP first words: bits 20..3, 18 bits of items.
constexpr std::uint32_t SEND_ADDRESS_MASK = 0x001FFFF8;
constexpr std::uint32_t MAXIMUM_ITEM_ADDRESS = 0x3FFFF;
// Bit 2 of the send control marks a 64-bit send, whose address counts 8-byte units.
constexpr std::uint32_t WIDE_SEND_BIT = 0x4;
constexpr std::uint32_t SEND_CONTROL_MASK = 0x7;
// PIC values (receive pointers) sit in bits 17..0 of PIC delays, SENDPIC and SENDPICP payloads.
constexpr std::uint32_t PIC_VALUE_MASK = 0x3FFFF;
constexpr std::uint32_t PIC_SELECTOR_BIT = 0x40000;
// Bit 27 of a SENDPICP first word is the PIC selector of its payload; 0 means a receive pointer.
constexpr std::uint32_t PAIR_PIC_SELECTOR_BIT = 0x08000000;
// Receive pointers hold word addresses in 18 bits: byte addresses below 1 MiB.
constexpr std::uint32_t RECEIVE_ADDRESS_LIMIT = 0x100000;
// A point receiver row's executable part holds eight words.
constexpr std::uint32_t POINT_RECEIVER_WORDS = 8;
constexpr std::uint32_t MUX_VALUE_MASK = 0x1FFF;

constexpr bool is_receive_pointer_delay(std::uint32_t word) {
  return is_delay_pic(word) && (word & PIC_SELECTOR_BIT) == 0;
}

constexpr bool pair_carries_pointer(std::uint32_t first_word) {
  return (first_word & PAIR_PIC_SELECTOR_BIT) == 0;
}

constexpr bool pair_carries_send(std::uint32_t first_word) {
  return (first_word & SEND_CONTROL_MASK) != 0;
}

// A SENDPIC word whose selector (bits 19..18) is 2 carries a receive pointer.
constexpr bool is_send_control_pointer(std::uint32_t word) {
  return is_send_control(word) && ((word >> 18) & 3) == 2;
}

constexpr std::uint32_t with_pic_value(std::uint32_t word, std::uint32_t value) {
  return (word & ~PIC_VALUE_MASK) | value;
}

}  // namespace

Status patch_sender_instruction(std::uint32_t& instruction, std::uint32_t byte_address) {
  const bool addressable =
      is_send(instruction) || (is_send_control_pair(instruction) && pair_carries_send(instruction));
  if (!addressable) {
    return std::unexpected(ExchangeError::address(byte_address));
  }
  const unsigned item_shift = (instruction & WIDE_SEND_BIT) != 0 ? 3 : 2;
  const std::uint32_t item_bytes = 1u << item_shift;
  const std::uint32_t item_address = byte_address >> item_shift;
  if (byte_address % item_bytes != 0 || item_address > MAXIMUM_ITEM_ADDRESS) {
    return std::unexpected(ExchangeError::address(byte_address));
  }
  instruction = (instruction & ~SEND_ADDRESS_MASK) | (item_address << 3);
  return {};
}

Status patch_sender_address(Row& row, std::uint32_t byte_address) {
  for (std::size_t cursor = 0; cursor < row.size();) {
    if (is_send(row[cursor])) {
      return patch_sender_instruction(row[cursor], byte_address);
    }
    // A SENDPICP pair's payload word holds receive controls, even when it looks like a SEND.
    cursor += is_send_control_pair(row[cursor]) ? 2u : 1u;
  }
  return std::unexpected(ExchangeError::address(byte_address));
}

Status patch_receiver_address(Row& row, std::uint32_t byte_address) {
  if (byte_address % 4 != 0 || byte_address >= RECEIVE_ADDRESS_LIMIT) {
    return std::unexpected(ExchangeError::address(byte_address));
  }
  const std::uint32_t word_address = byte_address / 4;
  for (std::size_t cursor = 0; cursor < row.size();) {
    const std::uint32_t word = row[cursor];
    if (is_send_control_pair(word)) {
      if (!pair_carries_pointer(word)) {
        cursor += 2;
        continue;
      }
      if (cursor + 1 >= row.size()) {
        return detail::fail(message::TRUNCATED_SENDPICP_PAYLOAD);
      }
      row[cursor + 1] = with_pic_value(row[cursor + 1], word_address);
      return {};
    }
    if (is_receive_pointer_delay(word)) {
      row[cursor] = with_pic_value(word, word_address);
      return {};
    }
    ++cursor;
  }
  return std::unexpected(ExchangeError::address(byte_address));
}

Result<Row> finalize_point_receiver(const Row& row, std::uint16_t source_physical) {
  const std::uint32_t patch_index = row[0];
  if (patch_index >= POINT_RECEIVER_WORDS || source_physical > MUX_VALUE_MASK) {
    return detail::fail(message::POINT_RECEIVER_PATCH_INDEX);
  }
  Row executable{};
  std::copy(row.begin() + 1, row.end(), executable.begin());
  executable[patch_index] = (executable[patch_index] & ~MUX_VALUE_MASK) | source_physical;
  return executable;
}

std::vector<std::uint32_t> normalized_exchange_address_words(std::span<const std::uint32_t> row) {
  std::vector<std::uint32_t> words(row.begin(), row.end());
  for (std::size_t cursor = 0; cursor < words.size();) {
    std::uint32_t& word = words[cursor];
    if (is_send_control_pair(word)) {
      if (pair_carries_send(word)) {
        word &= ~SEND_ADDRESS_MASK;
      }
      if (pair_carries_pointer(word) && cursor + 1 < words.size()) {
        words[cursor + 1] &= ~PIC_VALUE_MASK;
      }
      cursor += 2;
      continue;
    }
    if (is_send(word)) {
      word &= ~SEND_ADDRESS_MASK;
    } else if (is_send_control_pointer(word) || is_receive_pointer_delay(word)) {
      word &= ~PIC_VALUE_MASK;
    }
    ++cursor;
  }
  return words;
}

}  // namespace vantle_exchange
