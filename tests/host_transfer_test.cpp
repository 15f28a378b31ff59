#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <ostream>
#include <vector>

#include "checks/seeded_generator.hpp"
#include "host_test_support.hpp"
#include "vantle_exchange/host.hpp"

namespace vantle_exchange {
namespace {

using testing_support::hex;

enum class Direction { HostToTile, TileToHost };

struct Request {
  Direction direction;
  std::uint16_t tile;
  std::uint32_t tile_address;
  std::uint32_t host_offset;
  std::uint32_t bytes;
};

std::ostream& operator<<(std::ostream& out, const Request& r) {
  return out << (r.direction == Direction::HostToTile ? "plan_host_to_tile(" : "plan_tile_to_host(")
             << r.tile << ", " << hex(r.tile_address) << ", " << hex(r.host_offset) << ", "
             << r.bytes << ")";
}

Result<std::vector<HostTransferChunk>> plan(const Request& r) {
  return r.direction == Direction::HostToTile
             ? plan_host_to_tile(r.tile, r.tile_address, r.host_offset, r.bytes)
             : plan_tile_to_host(r.tile, r.tile_address, r.host_offset, r.bytes);
}

std::vector<std::uint32_t> lengths(const std::vector<HostTransferChunk>& chunks) {
  std::vector<std::uint32_t> result;
  for (const HostTransferChunk& chunk : chunks) {
    result.push_back(chunk.bytes);
  }
  return result;
}

// Every property a chunk list of `request` must have; reports the first one that fails.
testing::AssertionResult is_valid_chunk_list(const Request& request,
                                             const std::vector<HostTransferChunk>& chunks) {
  if (chunks.empty()) {
    return testing::AssertionFailure() << "no chunks";
  }
  const std::uint32_t largest =
      request.direction == Direction::HostToTile ? HOST_TO_TILE_MAX_BYTES : TILE_TO_HOST_MAX_BYTES;
  std::uint64_t tile_address = request.tile_address;
  std::uint64_t host_offset = request.host_offset;
  for (const HostTransferChunk& chunk : chunks) {
    if (chunk.tile_address != tile_address || chunk.host_offset != host_offset) {
      return testing::AssertionFailure() << "not contiguous at " << chunk;
    }
    if (chunk.bytes == 0 || chunk.bytes > largest) {
      return testing::AssertionFailure() << "length out of range: " << chunk;
    }
    if (chunk.host_offset / HOST_PAGE_BYTES !=
        (std::uint64_t{chunk.host_offset} + chunk.bytes - 1) / HOST_PAGE_BYTES) {
      return testing::AssertionFailure() << "crosses a host page: " << chunk;
    }
    const Result<HostPacketHeader> expected =
        request.direction == Direction::HostToTile
            ? host_to_tile_packet(request.tile, chunk.tile_address, chunk.host_offset, chunk.bytes)
            : tile_to_host_packet(request.tile, chunk.host_offset, chunk.bytes);
    if (!expected || *expected != chunk.header) {
      return testing::AssertionFailure() << "not a valid packet: " << chunk;
    }
    tile_address += chunk.bytes;
    host_offset += chunk.bytes;
  }
  if (tile_address - request.tile_address != request.bytes) {
    return testing::AssertionFailure()
           << "lengths add up to " << tile_address - request.tile_address;
  }
  return testing::AssertionSuccess();
}

TEST(HostTransfer, ChunkLengthsOfReferenceTransfers) {
  struct Case {
    Request request;
    std::vector<std::uint32_t> lengths;
  };
  const auto t2h = Direction::TileToHost;
  const auto h2t = Direction::HostToTile;
  std::vector<std::uint32_t> unaligned(67, 32);
  unaligned.push_back(56);
  std::vector<std::uint32_t> paged(15, 256);
  paged.insert(paged.end(), {192, 64});
  const Case cases[] = {
      {{t2h, 2, 0x60004, 4, 2200}, unaligned},
      {{t2h, 0, 0x60000, 64, 4096}, paged},
      {{t2h, 2, 0x52000, 64, 2048}, std::vector<std::uint32_t>(8, 256)},
      {{t2h, 0, 0, 32, 200}, {32, 128, 40}},
      {{t2h, 0, 0, 0, 100}, {64, 36}},
      {{t2h, 0, 0, 4032, 200}, {64, 128, 8}},
      {{t2h, 0, 0, 4084, 100}, {12, 64, 24}},
      {{t2h, 0, 0, 4, 60}, {60}},
      {{h2t, 1409, 0x50000, 4, 100}, {32, 32, 36}},
      {{h2t, 63, 0x50000, 64, 4096}, {1024, 1024, 1024, 960, 64}},
      {{h2t, 0, 0x50000, 0, 0x4000}, std::vector<std::uint32_t>(16, 1024)},
      {{h2t, 0, 0x53FE0, 0, 1024}, {1024}},
  };
  for (const Case& c : cases) {
    const auto chunks = plan(c.request);
    ASSERT_TRUE(chunks) << c.request << " failed with " << chunks.error();
    EXPECT_EQ(lengths(*chunks), c.lengths) << c.request;
    EXPECT_TRUE(is_valid_chunk_list(c.request, *chunks)) << c.request;
  }
}

TEST(HostTransfer, ChunksOfReferenceTransfersWithTheirHeaders) {
  std::vector<HostTransferChunk> tile_to_host;
  for (std::uint32_t k = 0; k < 8; ++k) {
    tile_to_host.push_back({0x52000 + 256 * k, 64 + 256 * k, 256, {0xA0010000, 0x14 + 0x40 * k}});
  }
  EXPECT_EQ(plan_tile_to_host(2, 0x52000, 64, 2048), tile_to_host);

  const std::vector<HostTransferChunk> unaligned = {
      {0x50000, 4, 32, {0xCEC08200, 0x80000018}},
      {0x50020, 36, 32, {0xCEC08201, 0x80000098}},
      {0x50040, 68, 36, {0xCEC08202, 0x80000119}},
  };
  EXPECT_EQ(plan_host_to_tile(1409, 0x50000, 4, 100), unaligned);

  const std::vector<HostTransferChunk> paged = {
      {0x50000, 0x40, 1024, {0xEC1F8200, 0x80000010}},
      {0x50400, 0x440, 1024, {0xEC1F8220, 0x80000110}},
      {0x50800, 0x840, 1024, {0xEC1F8240, 0x80000210}},
      {0x50C00, 0xC40, 960, {0xEC1F8260, 0x8000031F}},
      {0x50FC0, 0x1000, 64, {0xEC1F827E, 0x80000401}},
  };
  EXPECT_EQ(plan_host_to_tile(63, 0x50000, 64, 4096), paged);
}

TEST(HostTransfer, RejectedRequests) {
  const auto t2h = Direction::TileToHost;
  const auto h2t = Direction::HostToTile;
  const Request cases[] = {
      {h2t, 0, 0x50004, 0, 4},           // tile address not a slot
      {h2t, 0, 0x50000, 0, 0},           // nothing to move
      {h2t, 0, 0x50000, 0, 6},           // not whole words
      {h2t, 0, 0x50000, 2, 4},           // host offset not a word
      {h2t, 5000, 0x50000, 0, 64},       // tile above 4095, in the first header
      {h2t, 0, 0x50000, 0, 0x4400},      // the 17th chunk would start at 0x54000
      {h2t, 0, 0x53FE0, 0, 2048},        // the second chunk starts past the window
      {h2t, 0, 0x50000, 4084, 100},      // the 12-byte page end leaves the next chunk off a slot
      {h2t, 0, 0x4FFE0, 0, 64},          // before the window
      {h2t, 0, 0x50000, 0x20000000, 4},  // a short chunk beyond the address field
      {t2h, 0, 2, 0, 4},                 // tile address not a word
      {t2h, 0, 0, 0, 0},
      {t2h, 0, 0, 0, 2},
      {t2h, 0, 0, 6, 4},
      {t2h, 4096, 0, 0, 4},
      {t2h, 0, 0, 0x20000000, 4},
      {t2h, 0, 0, 0x1FFFFFE0, 64},  // the second, short chunk starts at 0x20000000
      // The single chunk is valid, but the advance past it leaves 32 bits.
      {t2h, 0, 0, 0xFFFFFFC0, 64},
      {t2h, 0, 0xFFFFFFC0, 0, 64},
      {h2t, 0, 0x50000, 0xFFFFFFC0, 64},
  };
  for (const Request& request : cases) {
    EXPECT_EQ(plan(request),
              Result<std::vector<HostTransferChunk>>(std::unexpected(ExchangeError::host_packet())))
        << request;
  }
}

TEST(HostTransfer, GenericLoopReportsTheBuilderErrorAndNeverSpins) {
  const auto always = [](std::uint32_t, std::uint32_t, std::uint32_t) -> Result<HostPacketHeader> {
    return HostPacketHeader{1, 2};
  };
  const auto refuse_second = [calls = 0](std::uint32_t, std::uint32_t,
                                         std::uint32_t) mutable -> Result<HostPacketHeader> {
    if (++calls == 2) {
      return std::unexpected(ExchangeError::schedule(message::SEND_INSTRUCTION_OPERAND));
    }
    return HostPacketHeader{1, 2};
  };
  const Result<std::vector<HostTransferChunk>> fails =
      std::unexpected(ExchangeError::host_packet());
  EXPECT_EQ(plan_host_transfer(0, 0, 128, 64, refuse_second),
            Result<std::vector<HostTransferChunk>>(
                std::unexpected(ExchangeError::schedule(message::SEND_INSTRUCTION_OPERAND))));
  // An empty transfer has no chunk to return; a long maximum below one unit could cut none.
  EXPECT_EQ(plan_host_transfer(0, 0, 0, 1024, always), fails);
  EXPECT_EQ(plan_host_transfer(0, 0, 128, 63, always), fails);
  EXPECT_EQ(plan_host_transfer(0, 0, 128, 0, always), fails);
  const auto chunks = plan_host_transfer(0, 0, 200, 64, always);
  ASSERT_TRUE(chunks);
  EXPECT_EQ(lengths(*chunks), (std::vector<std::uint32_t>{64, 64, 64, 8}));
}

// Valid requests of every shape: tile-to-host anywhere below the ends of the address spaces,
// host-to-tile into the exchange window at host offsets on 32-byte boundaries (so that every
// page-end chunk is a multiple of 32).
Request random_valid_request(checks::SeededGenerator& random) {
  const std::uint32_t bytes = 4 * random.u32_inclusive(1, random.boolean() ? 64 : 3 * 1024);
  if (random.boolean()) {
    const std::uint32_t host_offset = 4 * random.u32(0, (0x20000000 - bytes) / 4);
    const std::uint32_t tile_address = 4 * random.u32(0, (0xFFFFF000u - bytes) / 4);
    return {Direction::TileToHost, random.u16(0, 4096), tile_address, host_offset, bytes};
  }
  const std::uint32_t window_bytes = std::max<std::uint32_t>(bytes, 32);
  const std::uint32_t slots = (HOST_EXCHANGE_WINDOW_BYTES - window_bytes) / 32;
  const std::uint32_t tile_address =
      HOST_EXCHANGE_WINDOW_ADDRESS + 32 * random.u32_inclusive(0, slots);
  const std::uint32_t host_offset = 32 * random.u32(0, (0x20000000 - bytes) / 32);
  return {Direction::HostToTile, random.u16(0, 4096), tile_address, host_offset, bytes};
}

// Anything at all, leaning towards the edges where requests turn invalid.
std::uint32_t edgy_u32(checks::SeededGenerator& random, std::uint32_t around) {
  switch (random.u32(0, 4)) {
    case 0:
      return random.u32_inclusive(0, 0xFFFFFFFF);
    case 1:
      return around + random.u32_inclusive(0, 64) - 32;
    case 2:
      return 0xFFFFFFFF - random.u32_inclusive(0, 2048);
    default:
      return random.u32_inclusive(0, 0x5000);
  }
}

Request random_request(checks::SeededGenerator& random) {
  return {random.boolean() ? Direction::HostToTile : Direction::TileToHost,
          static_cast<std::uint16_t>(random.boolean() ? random.u32(0, 4200)
                                                      : random.u32_inclusive(0, 0xFFFF)),
          edgy_u32(random, HOST_EXCHANGE_WINDOW_ADDRESS + HOST_EXCHANGE_WINDOW_BYTES),
          edgy_u32(random, 0x20000000), edgy_u32(random, HOST_PAGE_BYTES)};
}

TEST(HostTransfer, RandomValidRequestsGiveValidChunkLists) {
  checks::SeededGenerator random(0x63687560);
  for (int iteration = 0; iteration < 2000; ++iteration) {
    const Request request = random_valid_request(random);
    const auto chunks = plan(request);
    ASSERT_TRUE(chunks) << request << " failed with " << chunks.error();
    ASSERT_TRUE(is_valid_chunk_list(request, *chunks)) << request;
  }
}

TEST(HostTransfer, RandomRequestsGiveValidChunkListsOrHostPacket) {
  checks::SeededGenerator random(0x616E79);
  for (int iteration = 0; iteration < 4000; ++iteration) {
    const Request request = random_request(random);
    if (request.bytes > 0x10000) {
      continue;  // a long unaligned transfer only makes the list longer
    }
    const auto chunks = plan(request);
    if (chunks) {
      ASSERT_TRUE(is_valid_chunk_list(request, *chunks)) << request;
    } else {
      ASSERT_EQ(chunks.error(), ExchangeError::host_packet()) << request;
    }
  }
}

}  // namespace
}  // namespace vantle_exchange
