#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

constexpr std::uint16_t DORN_TILE_COUNT = 1472;
// 23 rows of pairs make one block of 46 logical tiles running along a physical column.
constexpr std::uint32_t DORN_ROWS = 23;
constexpr std::uint32_t PHYSICAL_IDS_PER_ROW = 64;

}  // namespace

std::uint16_t dorn_logical_to_physical(std::uint16_t logical) {
  const std::uint32_t pair = logical / 2u;
  const std::uint32_t lane = logical % 2u;
  const std::uint32_t block = pair / DORN_ROWS;
  std::uint32_t row = pair % DORN_ROWS;
  if (block % 2 == 1) {
    row = DORN_ROWS - 1 - row;  // odd blocks run down the rows: a serpentine
  }
  const std::uint32_t column = (block / 2) * 4 + block % 2;
  return static_cast<std::uint16_t>(row * PHYSICAL_IDS_PER_ROW + column + lane * 2);
}

Topology Topology::dorn() {
  std::vector<std::uint16_t> map(DORN_TILE_COUNT);
  for (std::uint16_t logical = 0; logical < DORN_TILE_COUNT; ++logical) {
    map[logical] = dorn_logical_to_physical(logical);
  }
  return Topology(std::move(map));
}

Result<std::uint16_t> Topology::physical(std::uint16_t logical) const {
  if (logical >= logical_to_physical_.size()) {
    return std::unexpected(ExchangeError::tile(logical));
  }
  return logical_to_physical_[logical];
}

Status validate_count(std::uint32_t count) {
  if (count < 1 || count > MAXIMUM_TRANSFER_WORDS) {
    return std::unexpected(ExchangeError::count(count));
  }
  return {};
}

}  // namespace vantle_exchange
