#pragma once

// Host transfers: the two-word packet headers with which tiles talk to the host, the cutting of
// a host transfer into packets, and the small tile programs of host operations.
//
// Host operations name tiles by physical id (map logical ids with `Topology`) and accept 0 to
// 4095, more than the board's 1472 tiles. Every failure of the headers and of the transfer
// planners is `HostPacket`; the host programs add the `Schedule` failures of malformed operation
// bodies and of sends whose address or length a send word cannot hold.

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <span>
#include <type_traits>
#include <vector>

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

// ---------------------------------------------------------------------------------------------
// Transfer planning
// ---------------------------------------------------------------------------------------------

/// The host page; no packet crosses one.
inline constexpr std::uint32_t HOST_PAGE_BYTES = 4096;
/// The largest packet of a tile-to-host transfer.
inline constexpr std::uint32_t TILE_TO_HOST_MAX_BYTES = 256;
/// The largest packet of a host-to-tile transfer, the largest `Long` packet.
inline constexpr std::uint32_t HOST_TO_TILE_MAX_BYTES = 1024;

/// One packet of a transfer: where its bytes lie on the tile and on the host, and its header.
struct HostTransferChunk {
  std::uint32_t tile_address;
  std::uint32_t host_offset;
  std::uint32_t bytes;
  HostPacketHeader header;

  friend bool operator==(const HostTransferChunk&, const HostTransferChunk&) = default;
};

std::ostream& operator<<(std::ostream& out, const HostTransferChunk& chunk);

/// Builds the header of one chunk from (tile address, host offset, bytes).
template <class F>
concept HostPacketBuilder = std::invocable<F&, std::uint32_t, std::uint32_t, std::uint32_t> &&
    std::same_as<std::invoke_result_t<F&, std::uint32_t, std::uint32_t, std::uint32_t>,
                 Result<HostPacketHeader>>;

namespace detail {

/// The length of the next chunk of a transfer with `remaining` bytes left at `host_offset`: as
/// many whole 64-byte units as the page, the rest and `long_max_bytes` allow when the offset is
/// 64-byte aligned, else the rest of the transfer or page when that is at most 60 bytes, else 32.
std::uint32_t host_chunk_bytes(std::uint32_t host_offset, std::uint32_t remaining,
                               std::uint32_t long_max_bytes);

/// `address` + `bytes`, or `HostPacket` beyond 32 bits.
Result<std::uint32_t> advance_host_address(std::uint32_t address, std::uint32_t bytes);

/// The smallest `long_max_bytes` that lets the chunking loop make progress: one `Long` unit.
inline constexpr std::uint32_t HOST_LONG_UNIT_BYTES = 64;

}  // namespace detail

/// Cuts `bytes` bytes from `tile_address` and `host_offset` into packets that cross no host page
/// and fit a size class, `Long` packets holding at most `long_max_bytes`, and builds each header
/// with `packet`. The chunks are contiguous in tile addresses and host offsets and add up to
/// `bytes`. Fails with the first error of `packet`, and with `HostPacket` when `bytes` is 0,
/// `long_max_bytes` is below 64 (no chunk could be cut), or an address or offset would run past
/// 32 bits, even just after the last chunk.
template <HostPacketBuilder Builder>
Result<std::vector<HostTransferChunk>> plan_host_transfer(std::uint32_t tile_address,
                                                          std::uint32_t host_offset,
                                                          std::uint32_t bytes,
                                                          std::uint32_t long_max_bytes,
                                                          Builder packet) {
  if (bytes == 0 || long_max_bytes < detail::HOST_LONG_UNIT_BYTES) {
    return std::unexpected(ExchangeError::host_packet());
  }
  std::vector<HostTransferChunk> chunks;
  while (bytes != 0) {
    const std::uint32_t count = detail::host_chunk_bytes(host_offset, bytes, long_max_bytes);
    Result<HostPacketHeader> header = packet(tile_address, host_offset, count);
    if (!header) {
      return std::unexpected(header.error());
    }
    chunks.push_back({tile_address, host_offset, count, *header});
    const Result<std::uint32_t> next_tile_address =
        detail::advance_host_address(tile_address, count);
    if (!next_tile_address) {
      return std::unexpected(next_tile_address.error());
    }
    const Result<std::uint32_t> next_host_offset = detail::advance_host_address(host_offset, count);
    if (!next_host_offset) {
      return std::unexpected(next_host_offset.error());
    }
    tile_address = *next_tile_address;
    host_offset = *next_host_offset;
    bytes -= count;
  }
  return chunks;
}

/// The chunks of a host-to-tile transfer into `tile_address`, at most 1024 bytes each, with
/// `host_to_tile_packet` headers. Fails with `HostPacket` when `bytes` is 0 or not a multiple of
/// 4, `tile_address` not a multiple of 32, `host_offset` not a multiple of 4, and whenever a
/// header fails: an invalid tile, a chunk that starts outside the exchange window or off a slot
/// (after a page-end chunk whose length is not a multiple of 32), a `Short` chunk at host offset
/// 0x20000000 or above; and when the range runs past 32 bits.
Result<std::vector<HostTransferChunk>> plan_host_to_tile(std::uint16_t physical_tile,
                                                         std::uint32_t tile_address,
                                                         std::uint32_t host_offset,
                                                         std::uint32_t bytes);

/// The chunks of a tile-to-host transfer from `tile_address`, at most `TILE_TO_HOST_MAX_BYTES`
/// each, with `tile_to_host_packet` headers. Fails with `HostPacket` when `bytes` is 0 or not a
/// multiple of 4, `tile_address` or `host_offset` not a multiple of 4, and whenever a header
/// fails (an invalid tile, a `Short` chunk at host offset 0x20000000 or above); and when the
/// range runs past 32 bits.
Result<std::vector<HostTransferChunk>> plan_tile_to_host(std::uint16_t physical_tile,
                                                         std::uint32_t tile_address,
                                                         std::uint32_t host_offset,
                                                         std::uint32_t bytes);

// ---------------------------------------------------------------------------------------------
// Host operation programs
// ---------------------------------------------------------------------------------------------

/// A host operation program and the packet words its sends read: `packet_words` must be stored
/// at the program's packet address (word i at packet address + 4·i) before it runs.
struct TileToHostProgram {
  std::vector<std::uint32_t> instructions;
  std::vector<std::uint32_t> packet_words;

  friend bool operator==(const TileToHostProgram&, const TileToHostProgram&) = default;
};

/// Gives `operation`, a program ending with the return word, its prologue (select the tile's
/// host route on the incoming mux, then `entry_sync`) and its epilogue (sync all, restore the
/// neutral mux, return). Fails with "host target operation return" when `operation` is empty or
/// does not end with the return word, then with `HostPacket` on a tile above 4095.
Result<std::vector<std::uint32_t>> wrap_host_operation(std::uint16_t physical_tile,
                                                       std::span<const std::uint32_t> operation,
                                                       std::uint32_t entry_sync);

/// `wrap_host_operation` with the host sync as entry sync, for the xreq program.
Result<std::vector<std::uint32_t>> wrap_host_xreq_operation(
    std::uint16_t physical_tile, std::span<const std::uint32_t> operation);

/// `wrap_host_operation` with the sync-all entry sync, for a target program.
Result<std::vector<std::uint32_t>> wrap_host_target_operation(
    std::uint16_t physical_tile, std::span<const std::uint32_t> operation);

/// The wrapped operation of a tile that is its own xreq tile: it sends the xreq bitmap from
/// `xreq_packet_address` itself, after the first two words of the body (the count set-up of a
/// host-to-tile target program). Fails with "local host operation return" when `operation` is
/// empty or does not end with the return word, with "local host operation prefix" when its body
/// is shorter than two words or `xreq_packet_address` is not a multiple of 8, with `HostPacket`
/// on a tile above 4095, and with "send instruction operand" when the bitmap lies at or above
/// 0x100000.
Result<std::vector<std::uint32_t>> wrap_combined_host_operation(
    std::uint16_t physical_tile, std::span<const std::uint32_t> operation,
    std::uint32_t xreq_packet_address);

/// Appends the wrapper epilogue without its return word: sync all, restore the neutral mux.
void append_local_host_completion(std::vector<std::uint32_t>& instructions);

/// The xreq program that sends one two-word bitmap naming every target, from `packet_address`.
/// A target sets the bit of its group of 64 tiles and bit 1 of its id; the two words hold 56 such
/// bits, for physical tiles below 1792. Fails with `HostPacket` when the list is empty,
/// `packet_address` is not a multiple of 8, or a target is above 4095 or from 1792 up, and with
/// "send instruction operand" when `packet_address` is at or above 0x100000.
Result<TileToHostProgram> assemble_host_xreq_program_for_targets(
    std::span<const std::uint16_t> target_physical_tiles, std::uint32_t packet_address);
inline Result<TileToHostProgram> assemble_host_xreq_program_for_targets(
    std::initializer_list<std::uint16_t> target_physical_tiles, std::uint32_t packet_address) {
  return assemble_host_xreq_program_for_targets(
      std::span(target_physical_tiles.begin(), target_physical_tiles.size()), packet_address);
}

/// The xreq program of one target; fails as `assemble_host_xreq_program_for_targets`.
Result<TileToHostProgram> assemble_host_xreq_program(std::uint16_t target_physical_tile,
                                                     std::uint32_t packet_address);

/// The target program of a host-to-tile transfer: sets the receive word count, then sends every
/// read request of the transfer as one stream (the first with a SEND from `packet_address`, the
/// others with SENDOFF words), so only the last request carries the stream-end bits. Fails with
/// the errors of `plan_host_to_tile`, then with `HostPacket` when `packet_address` is not a
/// multiple of 8, and with "send instruction operand" when it is at or above 0x100000.
Result<TileToHostProgram> assemble_host_to_tile_target_program(std::uint16_t physical_tile,
                                                               std::uint32_t tile_address,
                                                               std::uint32_t host_offset,
                                                               std::uint32_t bytes,
                                                               std::uint32_t packet_address);

/// The target program of a tile-to-host transfer: each header followed by its payload, then a
/// zero-byte read request at `command_address` that closes the operation. The packet words are
/// the headers in chunk order and the close packet. Fails with the errors of
/// `plan_tile_to_host`, then with `HostPacket` when `packet_address` is not a multiple of 8, the
/// packets run past 32 bits or `command_address` is not a slot of the exchange window, and with
/// "send instruction operand" when a packet or payload lies at or above 0x100000.
Result<TileToHostProgram> assemble_tile_to_host_target_program(
    std::uint16_t physical_tile, std::uint32_t tile_address, std::uint32_t host_offset,
    std::uint32_t bytes, std::uint32_t packet_address, std::uint32_t command_address);

/// The instructions of a tile-to-host target program whose headers lie from `packet_address` on,
/// 8 bytes each, and whose close packet lies at `close_address`. A payload shorter than 18 words
/// is padded to 18 cycles. Fails with `HostPacket` when `chunks` is empty, `packet_address` or
/// `close_address` is not a multiple of 8, or a chunk's tile address or length is not a multiple
/// of 4, and with "send instruction operand" when a packet or payload lies at or above 0x100000
/// or a payload is empty or longer than 256 bytes.
Result<std::vector<std::uint32_t>> tile_to_host_target_instructions(
    std::span<const HostTransferChunk> chunks, std::uint32_t packet_address,
    std::uint32_t close_address);

/// The program with which physical tile 0, its own xreq tile, reads the word at `host_offset`
/// into `destination_address` and then sends it on. The packet words are tile 0's xreq bitmap and
/// the read request. Fails with `HostPacket` when `packet_address` is not a multiple of 8 or the
/// request cannot be built (`destination_address` not a slot of the exchange window,
/// `host_offset` not a multiple of 4 or from 0x20000000 up), and with "send instruction operand"
/// when the packets lie at or above 0x100000.
Result<TileToHostProgram> assemble_host_command_read_program(std::uint32_t packet_address,
                                                             std::uint32_t destination_address,
                                                             std::uint32_t host_offset);

}  // namespace vantle_exchange
