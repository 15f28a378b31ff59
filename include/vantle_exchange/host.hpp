#pragma once

// Host transfers: the two-word packet headers with which tiles talk to the host, the cutting of
// a host transfer into packets, and the small tile programs of host operations.
//
// Host operations name tiles by physical id (map logical ids with `Topology`) and accept 0 to
// 4095, more than the board's 1472 tiles. Every failure of the headers and of the transfer
// planners is `HostPacket`; the host programs add the `Schedule` failures of malformed operation
// bodies and of sends whose address or length a send word cannot hold.

#include <cstdint>
#include <iosfwd>

#include "vantle_exchange/error.hpp"

namespace vantle_exchange {

// ---------------------------------------------------------------------------------------------
// Packets and endpoints
// ---------------------------------------------------------------------------------------------

/// Both bits set mark the last read request of a host-to-tile stream; every host-to-tile header
/// is built with them, and a multi-packet program clears them in all but its last header.
inline constexpr std::uint32_t HOST_TO_TILE_STREAM_END_BITS = 0x0C000000;

/// The largest physical tile id a host operation accepts.
inline constexpr std::uint16_t MAXIMUM_HOST_PHYSICAL_TILE = 4095;

/// Data the host sends in answer to a read request lands in this 16 KiB window of tile memory,
/// whose 32-byte slots a header names by index.
inline constexpr std::uint32_t HOST_EXCHANGE_WINDOW_ADDRESS = 0x50000;
inline constexpr std::uint32_t HOST_EXCHANGE_WINDOW_BYTES = 0x4000;
inline constexpr std::uint32_t HOST_EXCHANGE_SLOT_BYTES = 32;

/// The size class of a packet, with its unit of host offset and length.
///
///   Short:   4 to   60 bytes, multiples of 4,  at host offsets that are multiples of 4
///   Long:   64 to 1024 bytes, multiples of 64, at host offsets that are multiples of 64
enum class HostPacketSize : std::uint8_t {
  Short = 0,
  Long = 1,
};

std::ostream& operator<<(std::ostream& out, HostPacketSize size);

/// The two header words of a packet, sent in the order `word0`, `word1`.
///
/// word0 (tiles below 2048):
///   31  30  29  28  27..26    25..16      15     14..10   9   8..0
///  +---+---+---+---+-------+-----------+-------+------+---+-----------------+
///  | 1 |h2t|lng| 0 | end   | tile >> 1 | tile&1|  0   |h2t| exchange slot   |
///  +---+---+---+---+-------+-----------+-------+------+---+-----------------+
///
/// word1:
///    31      30                          4 3          0
///  +-------+-----------------------------+------------+
///  | tile&1|    host offset / unit       | bytes/unit |
///  +-------+-----------------------------+------------+
///
/// h2t marks host-to-tile requests, lng the `Long` class, end the stream end of a request; the
/// length of a 1024-byte `Long` packet (16 units) is written as 0.
struct HostPacketHeader {
  std::uint32_t word0;
  std::uint32_t word1;

  friend bool operator==(const HostPacketHeader&, const HostPacketHeader&) = default;
};

/// `HostPacketHeader { word0: 0xA0000000, word1: 0x00000011 }`
std::ostream& operator<<(std::ostream& out, const HostPacketHeader& header);

/// A target tile of a host operation and the tile whose program sends the xreq bitmap for it.
struct HostHierarchy {
  std::uint16_t xreq_physical_tile;
  std::uint16_t target_physical_tile;

  friend bool operator==(const HostHierarchy&, const HostHierarchy&) = default;
};

std::ostream& operator<<(std::ostream& out, const HostHierarchy& hierarchy);

/// Accepts physical tiles 0 to 4095, else fails with `HostPacket`.
Status validate_host_tile(std::uint16_t physical_tile);

/// The size class that `bytes` at `host_offset` fits; `HostPacket` when it fits neither.
Result<HostPacketSize> host_packet_size(std::uint32_t host_offset, std::uint32_t bytes);

/// The address/length field of header word 1: host offset and length in units of the class.
/// Fails with `HostPacket` when the pair does not fit `size`, or when the offset leaves the 27
/// bits of the field (a `Short` packet at host offset 0x20000000 or above).
Result<std::uint32_t> host_address_length(std::uint32_t host_offset, std::uint32_t bytes,
                                          HostPacketSize size);

/// The tile's route bits in header word 0: physical_tile << 15. Not validated, not masked: the
/// ids from 2048 up reach bit 26.
constexpr std::uint32_t host_route_word0(std::uint16_t physical_tile) {
  return std::uint32_t{physical_tile} << 15;
}

/// The tile's route bit in header word 1: bit 0 of the tile in bit 31.
constexpr std::uint32_t host_route_word1(std::uint16_t physical_tile) {
  return (std::uint32_t{physical_tile} & 1) << 31;
}

/// The header of a read request: the tile asks for `bytes` bytes at `host_offset`, to land at
/// `tile_address`. Fails with `HostPacket` on a tile above 4095, a tile address that is not a
/// 32-byte slot of the exchange window, or a length and offset that fit no size class or field.
Result<HostPacketHeader> host_to_tile_packet(std::uint16_t physical_tile,
                                             std::uint32_t tile_address, std::uint32_t host_offset,
                                             std::uint32_t bytes);

/// The header of a write: `bytes` bytes of payload to `host_offset` follow it on the exchange.
/// Fails with `HostPacket` on a tile above 4095 or a length and offset that fit no size class or
/// field.
Result<HostPacketHeader> tile_to_host_packet(std::uint16_t physical_tile, std::uint32_t host_offset,
                                             std::uint32_t bytes);

/// A read request of no bytes at host offset 0, naming the slot `dummy_tile_address`. Fails with
/// `HostPacket` on a tile above 4095 or an address that is not a slot of the exchange window.
Result<HostPacketHeader> zero_byte_read_packet(std::uint16_t physical_tile,
                                               std::uint32_t dummy_tile_address);

/// The incoming-mux value that selects the tile's host route: 0x600 + (physical_tile & 0x3D).
/// Fails with `HostPacket` on a tile above 4095.
Result<std::uint32_t> host_mux_for_tile(std::uint16_t physical_tile);

/// The target and its xreq tile, which shares bit 0 and bits 5..2 of the target's id and has all
/// other bits clear. Fails with `HostPacket` on a tile above 4095.
Result<HostHierarchy> host_hierarchy(std::uint16_t target_physical_tile);

}  // namespace vantle_exchange
