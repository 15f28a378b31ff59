#include <algorithm>
#include <cstdlib>

#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

// The fields of a physical tile id, read as signed values for the route arithmetic.
struct TileFields {
  std::int32_t lane;        // bits 1..0
  std::int32_t raw_column;  // bits 5..2; bit 5 is the half of the exchange
  std::int32_t row;         // bits 10..6
  std::int32_t half;        // bit 5

  // Raw columns c and 15 - c lie at the same distance along the exchange.
  std::int32_t folded_column() const { return raw_column <= 7 ? raw_column : raw_column ^ 0xF; }
};

TileFields fields_of(std::uint32_t physical) {
  return TileFields{
      .lane = static_cast<std::int32_t>(physical & 3),
      .raw_column = static_cast<std::int32_t>((physical >> 2) & 0xF),
      .row = static_cast<std::int32_t>((physical >> 6) & 0x1F),
      .half = static_cast<std::int32_t>((physical >> 5) & 1),
  };
}

// Distance units per folded column along the exchange.
constexpr std::int32_t UNITS_PER_COLUMN = 6;
// The fixed part of the send-to-mux latency that the route terms are measured against.
constexpr std::int32_t MUX_LATENCY_BIAS = 34;

}  // namespace

std::int32_t route_displacement(std::uint32_t source, std::uint32_t destination) {
  const TileFields from = fields_of(source);
  const TileFields to = fields_of(destination);
  // Odd source tiles sit on the far side of their column's mux, unless the column is in the
  // upper half, where the sides swap.
  const std::int32_t source_mux =
      from.folded_column() + ((from.raw_column >> 3) ^ static_cast<std::int32_t>(source & 1));
  const std::int32_t base = (to.folded_column() - source_mux) * UNITS_PER_COLUMN;
  const std::int32_t destination_half = to.raw_column >> 3;
  std::int32_t lane_offset = 0;
  if (to.lane <= 1) {
    lane_offset = destination_half == to.lane ? 1 : 5;
  } else {
    lane_offset = destination_half == static_cast<std::int32_t>(destination & 1) ? 2 : 4;
  }
  return base + lane_offset;
}

std::uint32_t direction(std::uint32_t source, std::uint32_t destination) {
  return route_displacement(source, destination) >= 1 ? 1 : 2;
}

std::int32_t time_to_mux(std::uint32_t source, std::uint32_t destination) {
  const TileFields from = fields_of(source);
  const TileFields to = fields_of(destination);
  const std::int32_t source_low = from.raw_column & 7;
  const std::int32_t displacement = route_displacement(source, destination);
  const std::int32_t source_edge = 4 * from.folded_column();
  const std::int32_t destination_edge = 4 * to.folded_column();
  const std::int32_t local = (from.raw_column & 8) | (source_low >> 1);
  const std::int32_t crossing = local - to.raw_column + ((source_low >> 1) ^ 3);
  const bool same_region = from.half == to.half;
  const std::int32_t turn = same_region ? source_low + 1 : 16 - source_low;
  const std::int32_t group_delta = (from.row - to.row) * 2;
  return crossing + source_edge + turn - destination_edge + group_delta + std::abs(displacement) -
         MUX_LATENCY_BIAS;
}

std::int32_t paired_time_to_mux(std::uint32_t source, std::uint32_t destination) {
  return std::max(time_to_mux(source, destination), time_to_mux(source, destination ^ 2));
}

}  // namespace vantle_exchange
