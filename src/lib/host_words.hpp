#pragma once

// Words and rules shared by the host operation programs and their wrappers.

#include <cstdint>

#include "vantle_exchange/error.hpp"

namespace vantle_exchange::detail {

/// The general register through which the host programs load special registers.
inline constexpr std::uint8_t HOST_SCRATCH_REGISTER = 8;
/// Special register of the incoming-mux selection.
inline constexpr std::uint8_t INCOMING_MUX_SPECIAL_REGISTER = 160;
/// Special register of the word count the tile expects from the host.
inline constexpr std::uint8_t HOST_WORD_COUNT_SPECIAL_REGISTER = 166;

/// Host packets and payloads go out in both directions along the exchange.
inline constexpr std::uint32_t BOTH_DIRECTIONS = 3;

/// Sync with operand 0: closes the sends of a host program.
inline constexpr std::uint32_t HOST_SENDS_SYNC_INSTRUCTION = 0x41800000;

/// A packet is two words, kept 8-byte aligned in tile memory.
inline constexpr std::uint32_t HOST_PACKET_WORDS = 2;
inline constexpr std::uint32_t HOST_PACKET_BYTES = 8;

constexpr bool is_host_packet_address(std::uint32_t packet_address) {
  return packet_address % HOST_PACKET_BYTES == 0;
}

/// The SEND word of `words` words from `byte_address`, out in both directions of the exchange.
/// Fails with "send instruction operand" when the address is at or above 0x100000 (which takes
/// in every sum of addresses that leaves 32 bits) or `words` is not 1 to 64.
Result<std::uint32_t> host_send(std::uint64_t byte_address, std::uint32_t words);

}  // namespace vantle_exchange::detail
