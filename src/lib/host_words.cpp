#include "host_words.hpp"

#include "failure.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange::detail {
namespace {

constexpr std::uint32_t WORD_BYTES = 4;
// A SEND word holds an 18-bit word address.
constexpr std::uint64_t SEND_ADDRESS_LIMIT = 0x100000;

}  // namespace

Result<std::uint32_t> host_send(std::uint64_t byte_address, std::uint32_t words) {
  if (byte_address >= SEND_ADDRESS_LIMIT) {
    return detail::fail(message::SEND_INSTRUCTION_OPERAND);
  }
  // No words wraps to a count that encode_send rejects.
  return encode_send(words - 1, BOTH_DIRECTIONS,
                     static_cast<std::uint32_t>(byte_address / WORD_BYTES));
}

}  // namespace vantle_exchange::detail
