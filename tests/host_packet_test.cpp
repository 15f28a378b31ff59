#include <gtest/gtest.h>

#include <sstream>

#include "host_test_support.hpp"
#include "vantle_exchange/host.hpp"

namespace vantle_exchange {
namespace {

using testing_support::describe;
using testing_support::header;
using testing_support::hex;

const Result<HostPacketHeader> FAILS = std::unexpected(ExchangeError::host_packet());

struct HeaderCase {
  const char* text;
  Result<HostPacketHeader> actual;
  Result<HostPacketHeader> expected;
};

TEST(HostPackets, HeadersOfBothDirectionsOrTheirError) {
  const HeaderCase cases[] = {
      {"t2h(0, 64, 64)", tile_to_host_packet(0, 64, 64), header(0xA0000000, 0x00000011)},
      {"t2h(1409, 64, 64)", tile_to_host_packet(1409, 64, 64), header(0xA2C08000, 0x80000011)},
      {"t2h(0, 4, 4)", tile_to_host_packet(0, 4, 4), header(0x80000000, 0x00000011)},
      {"t2h(0, 0, 60)", tile_to_host_packet(0, 0, 60), header(0x80000000, 0x0000000F)},
      {"t2h(0, 0x400, 1024)", tile_to_host_packet(0, 0x400, 1024), header(0xA0000000, 0x00000100)},
      {"t2h(0, 0, 64)", tile_to_host_packet(0, 0, 64), header(0xA0000000, 0x00000001)},
      // The largest offsets of each class: Short up to the 27-bit field, Long to 32 bits.
      {"t2h(0, 0x1FFFFFFC, 4)", tile_to_host_packet(0, 0x1FFFFFFC, 4),
       header(0x80000000, 0x7FFFFFF1)},
      {"t2h(0, 0xFFFFFFC0, 64)", tile_to_host_packet(0, 0xFFFFFFC0, 64),
       header(0xA0000000, 0x3FFFFFF1)},
      // The route field is not masked: from tile 2048 up it reaches bit 26.
      {"t2h(2048, 64, 64)", tile_to_host_packet(2048, 64, 64), header(0xA4000000, 0x00000011)},
      {"t2h(4095, 64, 64)", tile_to_host_packet(4095, 64, 64), header(0xA7FF8000, 0x80000011)},
      {"t2h(0, 2, 4)", tile_to_host_packet(0, 2, 4), FAILS},
      {"t2h(0, 0, 0)", tile_to_host_packet(0, 0, 0), FAILS},
      {"t2h(0, 0, 1028)", tile_to_host_packet(0, 0, 1028), FAILS},
      {"t2h(0, 32, 64)", tile_to_host_packet(0, 32, 64), FAILS},
      {"t2h(0, 0, 62)", tile_to_host_packet(0, 0, 62), FAILS},
      {"t2h(0, 0, 100)", tile_to_host_packet(0, 0, 100), FAILS},
      {"t2h(0, 0x20000000, 4)", tile_to_host_packet(0, 0x20000000, 4), FAILS},
      {"t2h(0x1000, 0, 4)", tile_to_host_packet(0x1000, 0, 4), FAILS},
      {"h2t(0, 0x50120, 64, 64)", host_to_tile_packet(0, 0x50120, 64, 64),
       header(0xEC000209, 0x00000011)},
      {"h2t(1409, 0x50000, 4, 32)", host_to_tile_packet(1409, 0x50000, 4, 32),
       header(0xCEC08200, 0x80000018)},
      {"h2t(0, 0x53FE0, 0, 1024)", host_to_tile_packet(0, 0x53FE0, 0, 1024),
       header(0xEC0003FF, 0x00000000)},
      {"h2t(0, 0x50124, 0x40, 64)", host_to_tile_packet(0, 0x50124, 0x40, 64), FAILS},
      {"h2t(0, 0x54000, 0x40, 64)", host_to_tile_packet(0, 0x54000, 0x40, 64), FAILS},
      {"h2t(0, 0x4FFE0, 0x40, 64)", host_to_tile_packet(0, 0x4FFE0, 0x40, 64), FAILS},
      {"h2t(0, 0x50000, 0x40, 60)", host_to_tile_packet(0, 0x50000, 0x40, 60),
       header(0xCC000200, 0x0000010F)},
      {"h2t(0, 0x50000, 0x20000000, 4)", host_to_tile_packet(0, 0x50000, 0x20000000, 4), FAILS},
      {"h2t(4096, 0x50000, 0, 4)", host_to_tile_packet(4096, 0x50000, 0, 4), FAILS},
      {"zero(2, 0x50180)", zero_byte_read_packet(2, 0x50180), header(0xCC01020C, 0x00000000)},
      {"zero(1, 0x53FE0)", zero_byte_read_packet(1, 0x53FE0), header(0xCC0083FF, 0x80000000)},
      {"zero(2, 0x53FFF)", zero_byte_read_packet(2, 0x53FFF), FAILS},
      {"zero(2, 0x54000)", zero_byte_read_packet(2, 0x54000), FAILS},
      {"zero(2, 0x4FFE0)", zero_byte_read_packet(2, 0x4FFE0), FAILS},
      {"zero(4096, 0x50000)", zero_byte_read_packet(4096, 0x50000), FAILS},
  };
  for (const HeaderCase& c : cases) {
    EXPECT_EQ(describe(c.actual), describe(c.expected)) << c.text;
  }
}

TEST(HostPackets, SizeClassesOfOffsetAndLength) {
  struct Case {
    std::uint32_t host_offset;
    std::uint32_t bytes;
    Result<HostPacketSize> expected;
  };
  const Result<HostPacketSize> fails = std::unexpected(ExchangeError::host_packet());
  const Case cases[] = {
      {0, 4, HostPacketSize::Short},
      {4, 60, HostPacketSize::Short},
      {0, 64, HostPacketSize::Long},
      {64, 1024, HostPacketSize::Long},
      {0x40, 960, HostPacketSize::Long},
      {0, 0, fails},
      {0, 61, fails},
      {0, 63, fails},
      {0, 6, fails},
      {2, 4, fails},
      {32, 64, fails},
      {0, 96, fails},
      {0, 1028, fails},
      {0, 1088, fails},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host_packet_size(c.host_offset, c.bytes), c.expected)
        << hex(c.host_offset) << ", " << c.bytes << " bytes";
  }
}

TEST(HostPackets, AddressLengthFieldOrItsError) {
  struct Case {
    std::uint32_t host_offset;
    std::uint32_t bytes;
    HostPacketSize size;
    Result<std::uint32_t> expected;
  };
  const Result<std::uint32_t> fails = std::unexpected(ExchangeError::host_packet());
  const Case cases[] = {
      {0x40, 0x40, HostPacketSize::Long, 0x11},
      {0, 1024, HostPacketSize::Long, 0},
      {0x400, 960, HostPacketSize::Long, 0x10F},
      {4, 4, HostPacketSize::Short, 0x11},
      {0x1FFFFFFC, 60, HostPacketSize::Short, 0x7FFFFFFF},
      {0x20000000, 4, HostPacketSize::Short, fails},
      {0xFFFFFFC0, 64, HostPacketSize::Long, 0x3FFFFFF1},
      // A pair outside the class it is written as would describe another transfer.
      {0, 100, HostPacketSize::Short, fails},
      {0, 4, HostPacketSize::Long, fails},
      {0, 100, HostPacketSize::Long, fails},
      {4, 64, HostPacketSize::Long, fails},
      {0, 0, HostPacketSize::Short, fails},
      {0, 4, static_cast<HostPacketSize>(2), fails},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host_address_length(c.host_offset, c.bytes, c.size), c.expected)
        << hex(c.host_offset) << ", " << c.bytes << " bytes, " << c.size;
  }
}

TEST(HostPackets, RouteWordsCarryTheTileUnvalidated) {
  EXPECT_EQ(host_route_word0(1409), 0x02C08000u);
  EXPECT_EQ(host_route_word1(1409), 0x80000000u);
  EXPECT_EQ(host_route_word0(2), 0x00010000u);
  EXPECT_EQ(host_route_word1(2), 0u);
  EXPECT_EQ(host_route_word0(0xFFFF), 0x7FFF8000u);
  EXPECT_EQ(host_route_word1(0xFFFF), 0x80000000u);
}

TEST(HostPackets, TilesUpTo4095AreValid) {
  EXPECT_TRUE(validate_host_tile(0));
  EXPECT_TRUE(validate_host_tile(4095));
  EXPECT_EQ(validate_host_tile(4096), Status(std::unexpected(ExchangeError::host_packet())));
  EXPECT_EQ(validate_host_tile(0xFFFF), Status(std::unexpected(ExchangeError::host_packet())));
}

TEST(HostEndpoints, MuxAndXreqTileShareTheEndpointBits) {
  struct Case {
    std::uint16_t tile;
    std::uint32_t mux;
    std::uint16_t xreq;
  };
  const Case cases[] = {
      {116, 1588, 52}, {582, 1540, 4},  {1173, 1557, 21}, {0, 0x600, 0},   {2, 0x600, 0},
      {64, 0x600, 0},  {63, 0x63D, 61}, {260, 0x604, 4},  {31, 0x61D, 29}, {4095, 0x63D, 61},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host_mux_for_tile(c.tile), c.mux) << c.tile;
    EXPECT_EQ(host_hierarchy(c.tile), (HostHierarchy{c.xreq, c.tile})) << c.tile;
  }
  EXPECT_EQ(host_mux_for_tile(4096),
            Result<std::uint32_t>(std::unexpected(ExchangeError::host_packet())));
  EXPECT_EQ(host_hierarchy(4096),
            Result<HostHierarchy>(std::unexpected(ExchangeError::host_packet())));
}

TEST(HostPackets, DebugTextsNameTypeAndFields) {
  std::ostringstream out;
  out << HostPacketHeader{0xA0000000, 0x11} << ' ' << HostPacketSize::Short << ' '
      << HostPacketSize::Long << ' ' << HostHierarchy{4, 260};
  EXPECT_EQ(out.str(),
            "HostPacketHeader { word0: 0xA0000000, word1: 0x00000011 } Short Long "
            "HostHierarchy { xreq_physical_tile: 4, target_physical_tile: 260 }");
}

}  // namespace
}  // namespace vantle_exchange
