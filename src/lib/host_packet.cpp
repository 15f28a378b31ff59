// Host packet headers, their size classes and the endpoints of a tile's host route.

#include <ostream>

#include "vantle_exchange/host.hpp"

namespace vantle_exchange {
namespace {

// Opcodes of header word 0, before the route bits and the exchange slot are ORed in.
constexpr std::uint32_t TILE_TO_HOST_SHORT_OPCODE = 0x80000000;
constexpr std::uint32_t TILE_TO_HOST_LONG_OPCODE = 0xA0000000;
constexpr std::uint32_t HOST_TO_TILE_SHORT_OPCODE = 0xCC000200;
constexpr std::uint32_t HOST_TO_TILE_LONG_OPCODE = 0xEC000200;
// A zero-byte read is a short read request of no bytes.
constexpr std::uint32_t ZERO_BYTE_READ_OPCODE = HOST_TO_TILE_SHORT_OPCODE;

constexpr std::uint32_t SHORT_UNIT_SHIFT = 2;
constexpr std::uint32_t LONG_UNIT_SHIFT = 6;
constexpr std::uint32_t SHORT_MAX_BYTES = 60;
constexpr std::uint32_t LONG_MIN_BYTES = 64;
constexpr std::uint32_t LONG_MAX_BYTES = 1024;
// The 4-bit length field holds 0 to 15 units; the 16 units of a full long packet are written
// as 0.
constexpr std::uint32_t LENGTH_FIELD_WIDTH = 4;
constexpr std::uint32_t LONG_FULL_UNITS = 16;
// Bit 31 of word 1 is the tile's route bit, so the address/length field ends at bit 30.
constexpr std::uint64_t MAXIMUM_ADDRESS_LENGTH = 0x7FFFFFFF;

constexpr std::uint32_t HOST_MUX_BASE = 0x600;
// Bit 0 and bits 5..2 of a tile: its position within the group of 64 tiles that one xreq tile
// serves, without bit 1, which tells the two tiles of a pair apart.
constexpr std::uint16_t XREQ_ENDPOINT_BITS = 0x3D;

constexpr std::uint32_t unit_shift(HostPacketSize size) {
  return size == HostPacketSize::Long ? LONG_UNIT_SHIFT : SHORT_UNIT_SHIFT;
}

constexpr bool is_multiple(std::uint32_t value, std::uint32_t unit) {
  return value % unit == 0;
}

constexpr bool fits_short(std::uint32_t host_offset, std::uint32_t bytes) {
  constexpr std::uint32_t unit = 1u << SHORT_UNIT_SHIFT;
  return bytes >= unit && bytes <= SHORT_MAX_BYTES && is_multiple(bytes, unit) &&
         is_multiple(host_offset, unit);
}

constexpr bool fits_long(std::uint32_t host_offset, std::uint32_t bytes) {
  constexpr std::uint32_t unit = 1u << LONG_UNIT_SHIFT;
  return bytes >= LONG_MIN_BYTES && bytes <= LONG_MAX_BYTES && is_multiple(bytes, unit) &&
         is_multiple(host_offset, unit);
}

constexpr bool fits(HostPacketSize size, std::uint32_t host_offset, std::uint32_t bytes) {
  switch (size) {
    case HostPacketSize::Short:
      return fits_short(host_offset, bytes);
    case HostPacketSize::Long:
      return fits_long(host_offset, bytes);
  }
  return false;
}

// The 9-bit index of the 32-byte slot at `tile_address`, or `HostPacket` when the address is not
// the start of a slot of the exchange window.
Result<std::uint32_t> exchange_slot(std::uint32_t tile_address) {
  if (tile_address < HOST_EXCHANGE_WINDOW_ADDRESS ||
      !is_multiple(tile_address, HOST_EXCHANGE_SLOT_BYTES) ||
      tile_address - HOST_EXCHANGE_WINDOW_ADDRESS >= HOST_EXCHANGE_WINDOW_BYTES) {
    return std::unexpected(ExchangeError::host_packet());
  }
  return (tile_address - HOST_EXCHANGE_WINDOW_ADDRESS) / HOST_EXCHANGE_SLOT_BYTES;
}

// Word 1 of a header that carries a host range: the route bit and the address/length field.
Result<std::uint32_t> ranged_word1(std::uint16_t physical_tile, std::uint32_t host_offset,
                                   std::uint32_t bytes, HostPacketSize size) {
  const Result<std::uint32_t> address_length = host_address_length(host_offset, bytes, size);
  if (!address_length) {
    return std::unexpected(address_length.error());
  }
  return host_route_word1(physical_tile) | *address_length;
}

std::ostream& print_hex(std::ostream& out, std::uint32_t word) {
  const std::ios_base::fmtflags flags = out.flags();
  const char fill = out.fill('0');
  out << "0x" << std::hex << std::uppercase;
  out.width(8);
  out << word;
  out.fill(fill);
  out.flags(flags);
  return out;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, HostPacketSize size) {
  switch (size) {
    case HostPacketSize::Short:
      return out << "Short";
    case HostPacketSize::Long:
      return out << "Long";
  }
  return out << "HostPacketSize(" << static_cast<unsigned>(size) << ')';
}

std::ostream& operator<<(std::ostream& out, const HostPacketHeader& header) {
  out << "HostPacketHeader { word0: ";
  print_hex(out, header.word0) << ", word1: ";
  return print_hex(out, header.word1) << " }";
}

std::ostream& operator<<(std::ostream& out, const HostHierarchy& hierarchy) {
  return out << "HostHierarchy { xreq_physical_tile: " << hierarchy.xreq_physical_tile
             << ", target_physical_tile: " << hierarchy.target_physical_tile << " }";
}

Status validate_host_tile(std::uint16_t physical_tile) {
  if (physical_tile > MAXIMUM_HOST_PHYSICAL_TILE) {
    return std::unexpected(ExchangeError::host_packet());
  }
  return {};
}

Result<HostPacketSize> host_packet_size(std::uint32_t host_offset, std::uint32_t bytes) {
  if (fits_short(host_offset, bytes)) {
    return HostPacketSize::Short;
  }
  if (fits_long(host_offset, bytes)) {
    return HostPacketSize::Long;
  }
  return std::unexpected(ExchangeError::host_packet());
}

Result<std::uint32_t> host_address_length(std::uint32_t host_offset, std::uint32_t bytes,
                                          HostPacketSize size) {
  // A pair outside its class would lose the bytes below the unit or spill its length into the
  // offset bits: the header would describe another transfer.
  if (!fits(size, host_offset, bytes)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  const std::uint32_t shift = unit_shift(size);
  const std::uint32_t units = bytes >> shift;
  const std::uint32_t length = size == HostPacketSize::Long && units == LONG_FULL_UNITS ? 0 : units;
  const std::uint64_t field =
      (std::uint64_t{host_offset >> shift} << LENGTH_FIELD_WIDTH) | std::uint64_t{length};
  if (field > MAXIMUM_ADDRESS_LENGTH) {
    return std::unexpected(ExchangeError::host_packet());
  }
  return static_cast<std::uint32_t>(field);
}

Result<HostPacketHeader> host_to_tile_packet(std::uint16_t physical_tile,
                                             std::uint32_t tile_address, std::uint32_t host_offset,
                                             std::uint32_t bytes) {
  if (const Status tile = validate_host_tile(physical_tile); !tile) {
    return std::unexpected(tile.error());
  }
  const Result<std::uint32_t> slot = exchange_slot(tile_address);
  if (!slot) {
    return std::unexpected(slot.error());
  }
  const Result<HostPacketSize> size = host_packet_size(host_offset, bytes);
  if (!size) {
    return std::unexpected(size.error());
  }
  const Result<std::uint32_t> word1 = ranged_word1(physical_tile, host_offset, bytes, *size);
  if (!word1) {
    return std::unexpected(word1.error());
  }
  const std::uint32_t opcode =
      *size == HostPacketSize::Long ? HOST_TO_TILE_LONG_OPCODE : HOST_TO_TILE_SHORT_OPCODE;
  return HostPacketHeader{host_route_word0(physical_tile) | opcode | *slot, *word1};
}

Result<HostPacketHeader> tile_to_host_packet(std::uint16_t physical_tile, std::uint32_t host_offset,
                                             std::uint32_t bytes) {
  if (const Status tile = validate_host_tile(physical_tile); !tile) {
    return std::unexpected(tile.error());
  }
  const Result<HostPacketSize> size = host_packet_size(host_offset, bytes);
  if (!size) {
    return std::unexpected(size.error());
  }
  const Result<std::uint32_t> word1 = ranged_word1(physical_tile, host_offset, bytes, *size);
  if (!word1) {
    return std::unexpected(word1.error());
  }
  const std::uint32_t opcode =
      *size == HostPacketSize::Long ? TILE_TO_HOST_LONG_OPCODE : TILE_TO_HOST_SHORT_OPCODE;
  return HostPacketHeader{host_route_word0(physical_tile) | opcode, *word1};
}

Result<HostPacketHeader> zero_byte_read_packet(std::uint16_t physical_tile,
                                               std::uint32_t dummy_tile_address) {
  if (const Status tile = validate_host_tile(physical_tile); !tile) {
    return std::unexpected(tile.error());
  }
  const Result<std::uint32_t> slot = exchange_slot(dummy_tile_address);
  if (!slot) {
    return std::unexpected(slot.error());
  }
  return HostPacketHeader{host_route_word0(physical_tile) | ZERO_BYTE_READ_OPCODE | *slot,
                          host_route_word1(physical_tile)};
}

Result<std::uint32_t> host_mux_for_tile(std::uint16_t physical_tile) {
  const Result<HostHierarchy> hierarchy = host_hierarchy(physical_tile);
  if (!hierarchy) {
    return std::unexpected(hierarchy.error());
  }
  return HOST_MUX_BASE + hierarchy->xreq_physical_tile;
}

Result<HostHierarchy> host_hierarchy(std::uint16_t target_physical_tile) {
  if (const Status tile = validate_host_tile(target_physical_tile); !tile) {
    return std::unexpected(tile.error());
  }
  return HostHierarchy{static_cast<std::uint16_t>(target_physical_tile & XREQ_ENDPOINT_BITS),
                       target_physical_tile};
}

}  // namespace vantle_exchange
