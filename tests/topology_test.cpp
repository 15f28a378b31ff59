#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

TEST(DornTopology, MapsLogicalTilesByTheBoardFormula) {
  const std::pair<std::uint16_t, std::uint16_t> cases[] = {
      {0, 0},     {1, 2},     {2, 64},    {3, 66},    {44, 1408}, {45, 1410}, {46, 1409},
      {47, 1411}, {90, 1},    {91, 3},    {92, 4},    {93, 6},    {100, 260}, {274, 9},
      {736, 32},  {1286, 53}, {1470, 61}, {1471, 63}, {32, 1024},
  };
  const Topology topology = Topology::dorn();
  for (const auto& [logical, physical] : cases) {
    EXPECT_EQ(dorn_logical_to_physical(logical), physical) << logical;
    EXPECT_EQ(topology.physical(logical), physical) << logical;
  }
}

TEST(DornTopology, IsAPermutationOfThePhysicalIds) {
  const Topology topology = Topology::dorn();
  ASSERT_EQ(topology.tile_count(), 1472);
  std::vector<std::uint16_t> ids(topology.logical_to_physical().begin(),
                                 topology.logical_to_physical().end());
  std::ranges::sort(ids);
  for (std::uint16_t i = 0; i < ids.size(); ++i) {
    ASSERT_EQ(ids[i], i);
  }
  // Physical ids 0 to 7 belong to these logical ids.
  const std::uint16_t owners[] = {0, 90, 1, 91, 92, 182, 93, 183};
  for (std::uint16_t physical = 0; physical < 8; ++physical) {
    EXPECT_EQ(topology.logical_to_physical()[owners[physical]], physical);
  }
}

TEST(DornTopology, RejectsLogicalIdsBeyondTheBoard) {
  const Topology topology = Topology::dorn();
  EXPECT_EQ(topology.physical(1472), std::unexpected(ExchangeError::tile(1472)));
  EXPECT_EQ(topology.physical(0xFFFF), std::unexpected(ExchangeError::tile(0xFFFF)));
}

TEST(ValidateCount, AcceptsOneTo4148) {
  EXPECT_TRUE(validate_count(1));
  EXPECT_TRUE(validate_count(4148));
  EXPECT_EQ(validate_count(0), std::unexpected(ExchangeError::count(0)));
  EXPECT_EQ(validate_count(4149), std::unexpected(ExchangeError::count(4149)));
  EXPECT_EQ(validate_count(0xFFFFFFFF), std::unexpected(ExchangeError::count(0xFFFFFFFF)));
}

TEST(RouteTiming, ReferenceRoutes) {
  struct Case {
    std::uint32_t source;
    std::uint32_t destination;
    std::int32_t displacement;
    std::uint32_t direction;
    std::int32_t time_to_mux;
  };
  const Case cases[] = {
      {0, 53, 13, 1, -23},  {32, 260, -41, 2, 49},  {53, 63, -10, 2, -14}, {1024, 0, 1, 1, 3},
      {0, 0, 1, 1, -29},    {1, 1, -1, 2, -29},     {2, 2, 2, 1, -28},     {3, 3, -2, 2, -28},
      {1, 1412, 1, 1, -78}, {1440, 0, -47, 2, 112},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << " -> " << c.destination);
    EXPECT_EQ(route_displacement(c.source, c.destination), c.displacement);
    EXPECT_EQ(direction(c.source, c.destination), c.direction);
    EXPECT_EQ(time_to_mux(c.source, c.destination), c.time_to_mux);
  }
  EXPECT_EQ(paired_time_to_mux(0, 53), -22);
  EXPECT_EQ(paired_time_to_mux(0, 53), time_to_mux(0, 55));
}

TEST(RouteTiming, ExtremesOverEveryPairOfBoardTiles) {
  std::int32_t min_time = 0, max_time = 0, min_displacement = 0, max_displacement = 0;
  for (std::uint32_t source = 0; source < 1472; ++source) {
    for (std::uint32_t destination = 0; destination < 1472; ++destination) {
      const std::int32_t time = time_to_mux(source, destination);
      const std::int32_t displacement = route_displacement(source, destination);
      min_time = std::min(min_time, time);
      max_time = std::max(max_time, time);
      min_displacement = std::min(min_displacement, displacement);
      max_displacement = std::max(max_displacement, displacement);
      ASSERT_EQ(direction(source, destination), displacement >= 1 ? 1u : 2u);
    }
  }
  EXPECT_EQ(min_time, -78);
  EXPECT_EQ(max_time, 112);
  EXPECT_EQ(min_displacement, -47);
  EXPECT_EQ(max_displacement, 47);
}

TEST(RouteTiming, ReadsOnlyTheTileFieldsOfWideIds) {
  // Bits above the row field are ignored, whatever the caller passes.
  EXPECT_EQ(time_to_mux(0xFFFFF800u | 53, 0), time_to_mux(53, 0));
  EXPECT_EQ(route_displacement(0xFFFFFFFF, 0xFFFFFFFF), route_displacement(0x7FF, 0x7FF));
}

}  // namespace
}  // namespace vantle_exchange
