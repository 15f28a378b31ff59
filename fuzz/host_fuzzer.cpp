// Random arguments to the host packet builders, transfer planners and program assemblers: chunk
// lists are non-empty, contiguous, sum to the request, never cross a host page and hold valid
// headers; every error is HostPacket or a documented text.

#include "fuzz_support.hpp"
#include "vantle_exchange/host.hpp"

using namespace vantle_exchange;
using namespace vantle_exchange::fuzz;

namespace {

// Mostly plausible values around the exchange window, sometimes anything.
std::uint32_t consume_address(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      return HOST_EXCHANGE_WINDOW_ADDRESS +
             HOST_EXCHANGE_SLOT_BYTES * input.ConsumeIntegralInRange<std::uint32_t>(0, 600);
    case 1:
      return 4 * input.ConsumeIntegralInRange<std::uint32_t>(0, 0x40000);
    default:
      return input.ConsumeIntegral<std::uint32_t>();
  }
}

// Lengths up to 1 MiB, more than any tile holds: a request for gigabytes would only make the
// planners build millions of chunks, as asked.
std::uint32_t consume_length(FuzzedDataProvider& input) {
  return input.ConsumeBool() ? 4 * input.ConsumeIntegralInRange<std::uint32_t>(0, 3000)
                             : input.ConsumeIntegralInRange<std::uint32_t>(0, 0x100000);
}

std::uint16_t consume_tile(FuzzedDataProvider& input) {
  return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint16_t>(0, 1471)
                             : input.ConsumeIntegral<std::uint16_t>();
}

void expect_host_error(const ExchangeError& error) {
  expect_documented(error);
}

void expect_chunks(const std::vector<HostTransferChunk>& chunks, std::uint32_t tile_address,
                   std::uint32_t host_offset, std::uint32_t bytes, std::uint32_t largest) {
  expect(!chunks.empty(), "a chunk list is not empty");
  std::uint64_t total = 0;
  std::uint32_t tile = tile_address;
  std::uint32_t host = host_offset;
  for (const HostTransferChunk& chunk : chunks) {
    expect(chunk.tile_address == tile && chunk.host_offset == host, "chunks are contiguous");
    expect(chunk.bytes > 0 && chunk.bytes <= largest, "chunk size");
    expect(chunk.host_offset / HOST_PAGE_BYTES ==
               (std::uint64_t{chunk.host_offset} + chunk.bytes - 1) / HOST_PAGE_BYTES,
           "a chunk never crosses a host page");
    expect(host_packet_size(chunk.host_offset, chunk.bytes).has_value(), "a valid packet size");
    total += chunk.bytes;
    tile += chunk.bytes;
    host += chunk.bytes;
  }
  expect(total == bytes, "the chunks add up to the request");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint16_t tile = consume_tile(input);
  const std::uint32_t tile_address = consume_address(input);
  const std::uint32_t host_offset = input.ConsumeBool()
                                        ? 4 * input.ConsumeIntegralInRange<std::uint32_t>(0, 5000)
                                        : input.ConsumeIntegral<std::uint32_t>();
  const std::uint32_t bytes = consume_length(input);
  const std::uint32_t packet_address = consume_address(input);
  const std::uint32_t command_address = consume_address(input);

  for (const auto& result :
       {host_to_tile_packet(tile, tile_address, host_offset, bytes),
        tile_to_host_packet(tile, host_offset, bytes), zero_byte_read_packet(tile, tile_address)}) {
    if (!result) {
      expect(result.error() == ExchangeError::host_packet(), "packet errors are HostPacket");
    }
  }
  if (const auto mux = host_mux_for_tile(tile); mux) {
    expect(tile <= MAXIMUM_HOST_PHYSICAL_TILE, "mux of a valid tile");
  }
  if (const auto hierarchy = host_hierarchy(tile); !hierarchy) {
    expect(hierarchy.error() == ExchangeError::host_packet(), "hierarchy errors are HostPacket");
  }

  const auto to_tile = plan_host_to_tile(tile, tile_address, host_offset, bytes);
  if (to_tile) {
    expect_chunks(*to_tile, tile_address, host_offset, bytes, HOST_TO_TILE_MAX_BYTES);
  } else {
    expect(to_tile.error() == ExchangeError::host_packet(), "planner errors are HostPacket");
  }
  const auto to_host = plan_tile_to_host(tile, tile_address, host_offset, bytes);
  if (to_host) {
    expect_chunks(*to_host, tile_address, host_offset, bytes, TILE_TO_HOST_MAX_BYTES);
  } else {
    expect(to_host.error() == ExchangeError::host_packet(), "planner errors are HostPacket");
  }

  std::vector<std::uint16_t> targets;
  const auto target_count = input.ConsumeIntegralInRange<std::size_t>(0, 6);
  for (std::size_t i = 0; i < target_count; ++i) {
    targets.push_back(consume_tile(input));
  }
  const auto results = {
      assemble_host_xreq_program_for_targets(targets, packet_address),
      assemble_host_to_tile_target_program(tile, tile_address, host_offset, bytes, packet_address),
      assemble_tile_to_host_target_program(tile, tile_address, host_offset, bytes, packet_address,
                                           command_address),
      assemble_host_command_read_program(packet_address, tile_address, host_offset),
  };
  for (const auto& program : results) {
    if (!program) {
      expect_host_error(program.error());
    } else {
      expect(!program->instructions.empty(), "a program has instructions");
    }
  }

  const std::vector<std::uint32_t> body = consume_words(input, 16);
  for (const auto& wrapped :
       {wrap_host_xreq_operation(tile, body), wrap_host_target_operation(tile, body),
        wrap_combined_host_operation(tile, body, packet_address)}) {
    if (!wrapped) {
      expect_host_error(wrapped.error());
    }
  }
  if (to_host) {
    expect_documented_if_failed(
        tile_to_host_target_instructions(*to_host, packet_address, command_address));
  }
  return 0;
}
