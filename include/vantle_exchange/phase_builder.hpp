#pragma once

// The phase program builder: one exchange phase over all tiles of the chip.
//
// The caller plans every transfer on its own (a multicast or paired plan built for schedule
// offset 0) and hands the transfers over one by one, in its order of priority. For each, the
// builder finds the earliest phase offset at which the transfer fits on every tile it involves
// and places the sender row and every receiver row at that one offset, which preserves the
// route timing built into the rows. `finish` emits one validated program per busy tile.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/plan.hpp"
#include "vantle_exchange/tile_schedule.hpp"

namespace vantle_exchange {

/// One placed transfer: the sender's payload interval and horizon, each receiver's payload
/// interval and horizon (in receiver order), and the largest horizon of all.
struct PhaseTransferTiming {
  std::uint32_t payload_start;
  std::uint32_t payload_end;
  std::uint32_t sender_horizon;
  std::vector<std::uint32_t> receiver_payload_starts;
  std::vector<std::uint32_t> receiver_payload_ends;
  std::vector<std::uint32_t> receiver_horizons;
  std::uint32_t horizon;

  friend bool operator==(const PhaseTransferTiming&, const PhaseTransferTiming&) = default;
};

/// The phase: one program per tile index (absent for idle tiles), each tile's horizon, and the
/// phase length.
struct PhasePrograms {
  std::vector<std::optional<std::vector<std::uint32_t>>> programs;
  std::vector<std::uint32_t> tile_event_cycles;
  std::uint32_t event_cycles;

  friend bool operator==(const PhasePrograms&, const PhasePrograms&) = default;
};

/// A transfer names its tiles by index: `source` takes `plan.sender`, receiver i takes
/// `plan.receivers[i]`, and `reserved_tiles` (the sender's partner in a paired transfer) are
/// held busy until the sender's horizon without a row of their own. `words` is the number of
/// payload words each receiver takes.
class PhaseProgramBuilder {
 public:
  explicit PhaseProgramBuilder(std::uint16_t tile_count);

  std::uint16_t tile_count() const { return static_cast<std::uint16_t>(tile_states_.size()); }
  /// The schedules of all tiles, by tile index.
  std::span<const TileProgramSchedule> tile_states() const { return tile_states_; }

  /// The earliest offset from `requested` on at which the transfer fits on every tile it
  /// involves and every affected program can still be emitted.
  Result<std::uint32_t> earliest_transfer_offset(std::uint16_t source,
                                                 std::span<const std::uint16_t> reserved_tiles,
                                                 std::span<const std::uint16_t> receivers,
                                                 const MulticastPlan& plan, std::uint32_t words,
                                                 std::uint32_t requested) const;
  Result<std::uint32_t> earliest_transfer_offset(
      std::uint16_t source, std::initializer_list<std::uint16_t> reserved_tiles,
      std::initializer_list<std::uint16_t> receivers, const MulticastPlan& plan,
      std::uint32_t words, std::uint32_t requested) const {
    return earliest_transfer_offset(source, as_span(reserved_tiles), as_span(receivers), plan,
                                    words, requested);
  }

  /// The search, with the encodability test switched on or off.
  Result<std::uint32_t> earliest_transfer_offset_impl(std::uint16_t source,
                                                      std::span<const std::uint16_t> reserved_tiles,
                                                      std::span<const std::uint16_t> receivers,
                                                      const MulticastPlan& plan,
                                                      std::uint32_t words, std::uint32_t requested,
                                                      bool validate_encoding) const;

  /// Whether the programs of the source and every receiver could still be emitted with the
  /// transfer added at `schedule_offset`; the error they would raise otherwise.
  Status transfer_is_encodable_at(std::uint16_t source, std::span<const std::uint16_t> receivers,
                                  const MulticastPlan& plan, std::uint32_t schedule_offset,
                                  std::uint32_t words) const;

  /// The timing the transfer would have if placed at `schedule_offset`.
  Result<PhaseTransferTiming> transfer_timing_at(std::uint16_t source,
                                                 std::span<const std::uint16_t> receivers,
                                                 const MulticastPlan& plan,
                                                 std::uint32_t schedule_offset,
                                                 std::uint32_t words) const;

  /// Places the transfer on all its tiles at `schedule_offset`, or on none.
  Result<PhaseTransferTiming> append_transfer_at(std::uint16_t source,
                                                 std::span<const std::uint16_t> reserved_tiles,
                                                 std::span<const std::uint16_t> receivers,
                                                 const MulticastPlan& plan,
                                                 std::uint32_t schedule_offset,
                                                 std::uint32_t words);
  Result<PhaseTransferTiming> append_transfer_at(
      std::uint16_t source, std::initializer_list<std::uint16_t> reserved_tiles,
      std::initializer_list<std::uint16_t> receivers, const MulticastPlan& plan,
      std::uint32_t schedule_offset, std::uint32_t words) {
    return append_transfer_at(source, as_span(reserved_tiles), as_span(receivers), plan,
                              schedule_offset, words);
  }

  /// Emits and validates the program of every busy tile; consumes the builder.
  Result<PhasePrograms> finish() &&;

 private:
  static std::span<const std::uint16_t> as_span(std::initializer_list<std::uint16_t> list) {
    return {list.begin(), list.size()};
  }
  Result<const TileProgramSchedule*> state(std::uint16_t tile) const;
  /// A copy of the tile's schedule with the row placed on it.
  Result<TileProgramSchedule> with_sender(std::uint16_t tile, const Row& row,
                                          std::uint32_t schedule_offset) const;
  Result<TileProgramSchedule> with_receiver(std::uint16_t tile, const Row& row,
                                            std::uint32_t schedule_offset,
                                            std::uint32_t words) const;

  std::vector<TileProgramSchedule> tile_states_;
};

}  // namespace vantle_exchange
