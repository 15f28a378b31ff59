// The cutting of host transfers into packets that cross no host page and fit a size class.

#include <algorithm>
#include <limits>
#include <ostream>

#include "vantle_exchange/host.hpp"

namespace vantle_exchange {
namespace {

// While the host offset is not 64-byte aligned, no long packet fits: step in 32 bytes, which
// reaches the next 64-byte boundary from an offset that is a multiple of 32.
constexpr std::uint32_t SHORT_STEP_BYTES = 32;
constexpr std::uint32_t SHORT_MAX_BYTES = 60;
constexpr std::uint32_t WORD_BYTES = 4;

constexpr bool is_multiple(std::uint32_t value, std::uint32_t unit) {
  return value % unit == 0;
}

// What both directions demand of a range before it is cut.
constexpr bool is_word_range(std::uint32_t host_offset, std::uint32_t bytes) {
  return bytes != 0 && is_multiple(bytes, WORD_BYTES) && is_multiple(host_offset, WORD_BYTES);
}

}  // namespace

namespace detail {

std::uint32_t host_chunk_bytes(std::uint32_t host_offset, std::uint32_t remaining,
                               std::uint32_t long_max_bytes) {
  const std::uint32_t page_bytes = HOST_PAGE_BYTES - host_offset % HOST_PAGE_BYTES;
  const std::uint32_t available = std::min(remaining, page_bytes);
  if (is_multiple(host_offset, HOST_LONG_UNIT_BYTES) && available >= HOST_LONG_UNIT_BYTES) {
    const std::uint32_t longest = std::min(available, long_max_bytes);
    return longest - longest % HOST_LONG_UNIT_BYTES;
  }
  return available <= SHORT_MAX_BYTES ? available : SHORT_STEP_BYTES;
}

Result<std::uint32_t> advance_host_address(std::uint32_t address, std::uint32_t bytes) {
  if (bytes > std::numeric_limits<std::uint32_t>::max() - address) {
    return std::unexpected(ExchangeError::host_packet());
  }
  return address + bytes;
}

}  // namespace detail

std::ostream& operator<<(std::ostream& out, const HostTransferChunk& chunk) {
  return out << "HostTransferChunk { tile_address: " << chunk.tile_address
             << ", host_offset: " << chunk.host_offset << ", bytes: " << chunk.bytes
             << ", header: " << chunk.header << " }";
}

Result<std::vector<HostTransferChunk>> plan_host_to_tile(std::uint16_t physical_tile,
                                                         std::uint32_t tile_address,
                                                         std::uint32_t host_offset,
                                                         std::uint32_t bytes) {
  if (!is_word_range(host_offset, bytes) || !is_multiple(tile_address, HOST_EXCHANGE_SLOT_BYTES)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  return plan_host_transfer(tile_address, host_offset, bytes, HOST_TO_TILE_MAX_BYTES,
                            [physical_tile](std::uint32_t chunk_address, std::uint32_t chunk_offset,
                                            std::uint32_t chunk_bytes) {
                              return host_to_tile_packet(physical_tile, chunk_address, chunk_offset,
                                                         chunk_bytes);
                            });
}

Result<std::vector<HostTransferChunk>> plan_tile_to_host(std::uint16_t physical_tile,
                                                         std::uint32_t tile_address,
                                                         std::uint32_t host_offset,
                                                         std::uint32_t bytes) {
  if (!is_word_range(host_offset, bytes) || !is_multiple(tile_address, WORD_BYTES)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  // The payload's tile address travels in the program's send, not in the header.
  return plan_host_transfer(
      tile_address, host_offset, bytes, TILE_TO_HOST_MAX_BYTES,
      [physical_tile](std::uint32_t, std::uint32_t chunk_offset, std::uint32_t chunk_bytes) {
        return tile_to_host_packet(physical_tile, chunk_offset, chunk_bytes);
      });
}

}  // namespace vantle_exchange
