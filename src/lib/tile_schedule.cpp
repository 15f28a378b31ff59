#include "vantle_exchange/tile_schedule.hpp"

#include <algorithm>
#include <limits>
#include "failure.hpp"

namespace vantle_exchange {
namespace {

constexpr std::uint32_t CYCLE_MAXIMUM = std::numeric_limits<std::uint32_t>::max();

using detail::fail;

std::uint32_t saturating_next(std::uint32_t cycles) {
  return cycles == CYCLE_MAXIMUM ? cycles : cycles + 1;
}

std::uint32_t saturating_difference(std::uint32_t a, std::uint32_t b) {
  return a > b ? a - b : 0;
}

// A receive control may not land on a message's first payload cycle nor the one after: the
// message's first instruction must be its own SEND.
bool on_message_start(std::uint32_t event_cycles, std::uint32_t start_cycles) {
  return event_cycles == start_cycles || event_cycles == saturating_next(start_cycles);
}

}  // namespace

bool TileProgramSchedule::overlaps_a_message(std::uint32_t start, std::uint32_t end) const {
  return std::ranges::any_of(senders_, [&](const ScheduledSenderRow& sender) {
    return start < sender.end_cycles && sender.start_cycles < end;
  });
}

bool TileProgramSchedule::has_event_on_message_start(std::uint32_t start) const {
  return std::ranges::any_of(receive_events_, [&](const ReceiveEvent& event) {
    return on_message_start(event.cycles, start);
  });
}

Result<std::uint32_t> TileProgramSchedule::earliest_sender_offset(const Row& row,
                                                                  std::uint32_t requested) const {
  const auto base = sender_row_timing(row, 0);
  if (!base) {
    return std::unexpected(base.error());
  }
  std::uint64_t offset = requested;
  while (true) {
    const std::uint64_t start = base->start_cycles + offset;
    const std::uint64_t end = base->end_cycles + offset;
    if (end > CYCLE_MAXIMUM) {
      return fail(message::SEND_OFFSET_OVERFLOW);
    }
    const auto conflict = std::ranges::find_if(senders_, [&](const ScheduledSenderRow& sender) {
      return start < sender.end_cycles && sender.start_cycles < end;
    });
    if (conflict != senders_.end()) {
      // Try again starting exactly where the conflicting message ends.
      if (conflict->end_cycles < base->start_cycles) {
        return fail(message::SEND_OFFSET_ORDER);
      }
      offset = conflict->end_cycles - base->start_cycles;
      continue;
    }
    if (has_event_on_message_start(static_cast<std::uint32_t>(start))) {
      if (offset == CYCLE_MAXIMUM) {
        return fail(message::SEND_OFFSET_OVERFLOW);
      }
      ++offset;
      continue;
    }
    return static_cast<std::uint32_t>(offset);
  }
}

Result<std::uint32_t> TileProgramSchedule::receiver_lower_bound(const ReceiveRowTiming& base,
                                                                std::uint32_t requested) const {
  if (!receive_stream_) {
    return requested;
  }
  const ReceiveStream& stream = *receive_stream_;
  const auto source_cycles = base.source_cycles ? base.source_cycles : base.format_start_cycles;
  if (!source_cycles) {
    return fail(message::RECEIVE_SOURCE_TIMING);
  }
  std::uint32_t offset =
      std::max(requested, saturating_difference(stream.source_end_cycles, *source_cycles));
  // Placement requires the new payload to start no earlier than the open stream's payload end,
  // also when the row continues the stream's address, so the bound applies either way.
  if (!base.pointer_cycles) {
    return fail(message::RECEIVE_POINTER_EVENT);
  }
  offset = std::max(offset, saturating_difference(stream.pointer_end_cycles, *base.pointer_cycles));
  return offset;
}

bool TileProgramSchedule::receive_window_collides(const ScheduledReceiverWindow& window) const {
  // The new source selection may take the cycle of the open stream's teardown: the mux then
  // switches straight from the old sender to the new one.
  const bool replaces_neutral =
      receive_stream_ && window.source_start == receive_stream_->source_end_cycles;
  for (const ReceiveEvent& added : window.events) {
    for (const ReceiveEvent& placed : receive_events_) {
      if (added.cycles != placed.cycles) {
        continue;
      }
      const bool cutover = replaces_neutral && added.kind == ReceiveEventKind::OrdinarySource &&
                           placed.kind == ReceiveEventKind::OrdinaryNeutral;
      if (!cutover && !receive_events_can_share_instruction(added, placed)) {
        return true;
      }
    }
    for (const ScheduledSenderRow& sender : senders_) {
      if (on_message_start(added.cycles, sender.start_cycles)) {
        return true;
      }
    }
  }
  return false;
}

Result<std::uint32_t> TileProgramSchedule::earliest_receiver_offset(const Row& row,
                                                                    std::uint32_t received_words,
                                                                    std::uint32_t requested) const {
  const auto base = receive_row_timing(row, 0);
  if (!base) {
    return std::unexpected(base.error());
  }
  auto offset = receiver_lower_bound(*base, requested);
  if (!offset) {
    return offset;
  }
  while (true) {
    const auto window = scheduled_receive_window(*base, *offset, received_words, receive_stream_);
    if (!window) {
      return std::unexpected(window.error());
    }
    if (!receive_window_collides(*window)) {
      return offset;
    }
    if (*offset == CYCLE_MAXIMUM) {
      return fail(message::RECEIVE_OFFSET_OVERFLOW);
    }
    ++*offset;
  }
}

Status TileProgramSchedule::append_sender_at(const Row& row, std::uint32_t schedule_offset) {
  const auto timing = sender_row_timing(row, schedule_offset);
  if (!timing) {
    return std::unexpected(timing.error());
  }
  if (overlaps_a_message(timing->start_cycles, timing->end_cycles)) {
    return fail(message::OVERLAPPING_OUTGOING_MESSAGES);
  }
  if (has_event_on_message_start(timing->start_cycles)) {
    return fail(message::UNENCODABLE_INITIAL_SEND_CONTROL);
  }
  event_cycles_ = std::max(event_cycles_, timing->horizon_cycles);
  senders_.push_back(ScheduledSenderRow{row, timing->start_cycles, timing->end_cycles});
  return {};
}

Result<ScheduledReceiverWindow> TileProgramSchedule::append_receiver_at(
    const Row& row, std::uint32_t schedule_offset, std::uint32_t received_words) {
  const auto base = receive_row_timing(row, 0);
  if (!base) {
    return std::unexpected(base.error());
  }
  auto window = scheduled_receive_window(*base, schedule_offset, received_words, receive_stream_);
  if (!window) {
    return window;
  }
  std::optional<std::uint32_t> next_address;
  if (window->pointer_address) {
    // A paired receive writes 8 bytes per received item.
    const std::uint64_t item_bytes = base->mode == ReceiveMode::Paired64 ? 8 : 4;
    const std::uint64_t next = *window->pointer_address + item_bytes * received_words;
    if (next > CYCLE_MAXIMUM) {
      return fail(message::RECEIVE_ADDRESS_OVERFLOW);
    }
    next_address = static_cast<std::uint32_t>(next);
  }
  if (receive_stream_) {
    const ReceiveStream& previous = *receive_stream_;
    if (window->source_start < previous.source_end_cycles ||
        window->payload_start < previous.pointer_end_cycles) {
      return fail(message::OVERLAPPING_RECEIVE_STREAMS);
    }
    // Source cutover: the new selection replaces the open stream's teardown on the same cycle.
    if (window->source_start == previous.source_end_cycles &&
        previous.mode == ReceiveMode::Ordinary && base->mode == ReceiveMode::Ordinary) {
      const auto teardown = std::ranges::find_if(
          receive_events_.rbegin(), receive_events_.rend(), [&](const ReceiveEvent& event) {
            return event.kind == ReceiveEventKind::OrdinaryNeutral &&
                   event.cycles == previous.source_end_cycles;
          });
      if (teardown != receive_events_.rend()) {
        receive_events_.erase(std::prev(teardown.base()));
      }
    }
  }
  receive_events_.insert(receive_events_.end(), window->events.begin(), window->events.end());
  event_cycles_ = std::max(event_cycles_, window->horizon);
  receive_stream_ = ReceiveStream{
      .next_address = next_address,
      .source_end_cycles = window->source_end,
      .pointer_end_cycles = window->payload_end,
      .mode = base->mode,
  };
  return window;
}

Result<std::vector<std::uint32_t>> TileProgramSchedule::finish() const {
  return build_scheduled_program(senders_, receive_events_, event_cycles_);
}

}  // namespace vantle_exchange
