// Checks of the board map.

#include <set>

#include "checks/check.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange::tests {

VANTLE_EXCHANGE_CHECK("tests", dorn_mapping_is_a_permutation) {
  const Topology topology = Topology::dorn();
  std::set<std::uint16_t> physical_ids;
  for (std::uint16_t logical = 0; logical < topology.tile_count(); ++logical) {
    VANTLE_EXCHANGE_MUST(physical, topology.physical(logical));
    physical_ids.insert(physical);
  }
  ASSERT_EQ(physical_ids.size(), 1472u);
  ASSERT_EQ(topology.physical(46), 1409);
  ASSERT_LT(*physical_ids.rbegin(), 1472);
}

}  // namespace vantle_exchange::tests
