#pragma once

// The board's logical-to-physical tile map, the word-count limit of every plan and the route
// timing between physical tiles.
//
// A physical tile id reads as: bits 1..0 lane within a group of four, bits 5..2 raw column
// (bit 5 is the half of the exchange), bits 10..6 row. Raw columns c and 15 - c share the folded
// column c, which is what distances along the exchange are measured in.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/plan.hpp"

namespace vantle_exchange {

/// The largest word count of one transfer: 53 + 4095, the most whose receiver rows still fit the
/// 12-bit cycle field of their closing XPIC delay.
inline constexpr std::uint32_t MAXIMUM_TRANSFER_WORDS = 4148;

/// One board's map from logical tile ids (what callers use) to physical tile ids (what routes,
/// mux values and host headers use). Immutable once built; plans are built on it.
class Topology {
 public:
  /// The dorn board: 1472 tiles, 23 rows of 64 physical ids.
  static Topology dorn();

  /// The number of tiles, the length of the map.
  std::uint16_t tile_count() const {
    return static_cast<std::uint16_t>(logical_to_physical_.size());
  }

  /// The physical id of `logical`; fails with `Tile(logical)` when it is not below the tile count.
  Result<std::uint16_t> physical(std::uint16_t logical) const;

  /// The whole map, indexed by logical tile id.
  std::span<const std::uint16_t> logical_to_physical() const { return logical_to_physical_; }

  /// The sender row and point receiver row that move `count` words from one tile to another.
  Result<Plan> point_to_point(std::uint16_t sender_logical, std::uint16_t receiver_logical,
                              std::uint32_t count) const;

  /// The sender row and one receiver row per receiver, in the order given, that move `count`
  /// words from one tile to all receivers at once, held back by `schedule_offset` cycles beyond
  /// the earliest start.
  Result<MulticastPlan> multicast(std::uint16_t sender_logical,
                                  std::span<const std::uint16_t> receiver_logical,
                                  std::uint32_t count, std::uint32_t schedule_offset) const;
  Result<MulticastPlan> multicast(std::uint16_t sender_logical,
                                  std::initializer_list<std::uint16_t> receiver_logical,
                                  std::uint32_t count, std::uint32_t schedule_offset) const {
    return multicast(sender_logical, std::span(receiver_logical.begin(), receiver_logical.size()),
                     count, schedule_offset);
  }

  /// The partner of a logical tile in a receiving pair: the tile whose physical id differs in
  /// bit 1. Fails with `Tile(logical)` when there is none.
  Result<std::uint16_t> paired_logical(std::uint16_t logical) const;

  /// Whether `receiver_logical` is the member of its pair that selects `sender_logical` on its
  /// mux: the one the sender's data reaches strictly first.
  Result<bool> paired_receiver_is_early(std::uint16_t receiver_logical,
                                        std::uint16_t sender_logical) const;

  /// A paired 64-bit transfer of `count` words (64 to 4148) to complete receiving pairs: the
  /// multicast sender row with its sends marked 64-bit, and one receiver row per receiver that
  /// brackets the receive with paired format controls.
  Result<MulticastPlan> paired_multicast(std::uint16_t sender_logical,
                                         std::span<const std::uint16_t> receivers,
                                         std::uint32_t count) const;
  Result<MulticastPlan> paired_multicast(std::uint16_t sender_logical,
                                         std::initializer_list<std::uint16_t> receivers,
                                         std::uint32_t count) const {
    return paired_multicast(sender_logical, std::span(receivers.begin(), receivers.size()), count);
  }

  /// One receiver row of a paired transfer; `minimum_double_mux` is the smallest paired route
  /// time over all receivers of the plan, which fixes the plan's time origin.
  Result<Row> paired_receiver_row(std::uint16_t sender_logical, std::uint16_t receiver_logical,
                                  std::uint32_t count, std::int32_t minimum_double_mux) const;

  friend bool operator==(const Topology&, const Topology&) = default;

 private:
  explicit Topology(std::vector<std::uint16_t> logical_to_physical)
      : logical_to_physical_(std::move(logical_to_physical)) {}

  std::vector<std::uint16_t> logical_to_physical_;
};

/// The dorn board formula: logical ids come in pairs that differ in bit 1 of the physical id;
/// 23 pairs fill a block that runs along the rows, up in even blocks and down in odd ones.
/// Defined for 0 to 1471.
std::uint16_t dorn_logical_to_physical(std::uint16_t logical);

/// Accepts 1 <= count <= 4148, else fails with `Count(count)`.
Status validate_count(std::uint32_t count);

/// The signed distance along the exchange from the sending tile to the receiving tile's mux,
/// 6 units per folded column; its sign picks the route direction.
std::int32_t route_displacement(std::uint32_t source, std::uint32_t destination);

/// The route direction of a send's control bits: 1 when the displacement is positive, else 2.
std::uint32_t direction(std::uint32_t source, std::uint32_t destination);

/// The route-dependent part, in cycles, of the time from a send issued on `source` to its data
/// at the mux of `destination`; it may be negative, the plans add fixed offsets to it.
std::int32_t time_to_mux(std::uint32_t source, std::uint32_t destination);

/// The later of the arrivals at `destination` and at its pair partner `destination` XOR 2.
std::int32_t paired_time_to_mux(std::uint32_t source, std::uint32_t destination);

}  // namespace vantle_exchange
