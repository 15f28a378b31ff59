#pragma once

// One tile's event timeline during one exchange phase.
//
// Rows are placed one at a time at schedule offsets (cycles on the tile's timeline); the
// searches find the earliest offset at or after a requested one at which the program encoder
// can still deliver everything. Placement keeps outgoing messages apart, keeps receive controls
// off the first two cycles of every message, lets two controls share a cycle only when one
// instruction can carry both, and lets successive receive streams follow each other without
// overlapping, continuing the previous stream seamlessly where they can.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/plan.hpp"
#include "vantle_exchange/program_encoder.hpp"
#include "vantle_exchange/row_timing.hpp"

namespace vantle_exchange {

class TileProgramSchedule {
 public:
  /// A fresh schedule: nothing placed, horizon 0, no open receive stream.
  TileProgramSchedule() = default;

  /// The placed sender rows, in placement order.
  const std::vector<ScheduledSenderRow>& senders() const { return senders_; }
  /// The placed receive controls, window by window in placement order.
  const std::vector<ReceiveEvent>& receive_events() const { return receive_events_; }
  /// The tile's horizon: the largest horizon of any placed row; 0 while nothing is placed.
  std::uint32_t event_cycles() const { return event_cycles_; }
  /// The stream left open by the last placed receiver row.
  const std::optional<ReceiveStream>& receive_stream() const { return receive_stream_; }

  /// The earliest offset from `requested` on at which `row` sends outside every placed message
  /// and no receive control lands on its first two payload cycles.
  Result<std::uint32_t> earliest_sender_offset(const Row& row, std::uint32_t requested) const;

  /// The earliest offset from `requested` on at which `row`, taking `received_words` words,
  /// follows the open stream and adds no control that the encoder could not deliver.
  Result<std::uint32_t> earliest_receiver_offset(const Row& row, std::uint32_t received_words,
                                                 std::uint32_t requested) const;

  /// Places a sender row. Fails with "overlapping outgoing messages" or "unencodable initial
  /// send control"; a failure leaves the schedule as it was.
  Status append_sender_at(const Row& row, std::uint32_t schedule_offset);

  /// Places a receiver row and returns its window. Fails with "receive address overflow" or
  /// "overlapping receive streams"; a failure leaves the schedule as it was.
  Result<ScheduledReceiverWindow> append_receiver_at(const Row& row, std::uint32_t schedule_offset,
                                                     std::uint32_t received_words);

  /// Keeps the tile busy until `cycles` without placing anything: raises its horizon to at least
  /// that cycle. The partner tile of a paired send is held this way.
  void reserve_until(std::uint32_t cycles) { event_cycles_ = std::max(event_cycles_, cycles); }

  /// The tile's program for the phase, ending with the return word at `event_cycles`.
  Result<std::vector<std::uint32_t>> finish() const;

  friend bool operator==(const TileProgramSchedule&, const TileProgramSchedule&) = default;

 private:
  bool overlaps_a_message(std::uint32_t start, std::uint32_t end) const;
  bool has_event_on_message_start(std::uint32_t start) const;
  bool receive_window_collides(const ScheduledReceiverWindow& window) const;
  Result<std::uint32_t> receiver_lower_bound(const ReceiveRowTiming& base,
                                             std::uint32_t requested) const;

  std::vector<ScheduledSenderRow> senders_;
  std::vector<ReceiveEvent> receive_events_;
  std::uint32_t event_cycles_ = 0;
  std::optional<ReceiveStream> receive_stream_;
};

}  // namespace vantle_exchange
