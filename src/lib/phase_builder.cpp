#include "vantle_exchange/phase_builder.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "failure.hpp"
#include "vantle_exchange/diagnostic.hpp"

namespace vantle_exchange {
namespace {

using detail::fail;

bool is_alignment_failure(const ExchangeError& error) {
  return error == ExchangeError::schedule(message::SENDPICP_INSTRUCTION_ALIGNMENT);
}

Status check_receiver_rows(std::span<const std::uint16_t> receivers, const MulticastPlan& plan) {
  if (receivers.size() != plan.receivers.size()) {
    return fail(message::RECEIVER_ROW_COUNT);
  }
  return {};
}

}  // namespace

PhaseProgramBuilder::PhaseProgramBuilder(std::uint16_t tile_count) : tile_states_(tile_count) {}

Result<const TileProgramSchedule*> PhaseProgramBuilder::state(std::uint16_t tile) const {
  if (tile >= tile_states_.size()) {
    return std::unexpected(ExchangeError::tile(tile));
  }
  return &tile_states_[tile];
}

Result<std::uint32_t> PhaseProgramBuilder::earliest_transfer_offset(
    std::uint16_t source, std::span<const std::uint16_t> reserved_tiles,
    std::span<const std::uint16_t> receivers, const MulticastPlan& plan, std::uint32_t words,
    std::uint32_t requested) const {
  return earliest_transfer_offset_impl(source, reserved_tiles, receivers, plan, words, requested,
                                       true);
}

Result<std::uint32_t> PhaseProgramBuilder::earliest_transfer_offset_impl(
    std::uint16_t source, std::span<const std::uint16_t> reserved_tiles,
    std::span<const std::uint16_t> receivers, const MulticastPlan& plan, std::uint32_t words,
    std::uint32_t requested, bool validate_encoding) const {
  if (auto rows = check_receiver_rows(receivers, plan); !rows) {
    return std::unexpected(rows.error());
  }
  const auto sender_state = state(source);
  if (!sender_state) {
    return std::unexpected(sender_state.error());
  }
  std::uint32_t offset = requested;
  while (true) {
    // A fixed point: every tile accepts the offset that the others raised it to.
    const std::uint32_t previous = offset;
    const auto sender_offset = (*sender_state)->earliest_sender_offset(plan.sender, offset);
    if (!sender_offset) {
      return sender_offset;
    }
    offset = *sender_offset;
    for (const std::uint16_t tile : reserved_tiles) {
      const auto reserved = state(tile);
      if (!reserved) {
        return std::unexpected(reserved.error());
      }
      // The transfer may not start before a reserved tile's timeline is over.
      offset = std::max(offset, (*reserved)->event_cycles());
    }
    for (std::size_t i = 0; i < receivers.size(); ++i) {
      const auto receiver = state(receivers[i]);
      if (!receiver) {
        return std::unexpected(receiver.error());
      }
      const auto receiver_offset =
          (*receiver)->earliest_receiver_offset(plan.receivers[i], words, offset);
      if (!receiver_offset) {
        return receiver_offset;
      }
      offset = *receiver_offset;
    }
    if (offset != previous) {
      continue;
    }
    if (!validate_encoding) {
      return offset;
    }
    const Status encodable = transfer_is_encodable_at(source, receivers, plan, offset, words);
    if (encodable) {
      return offset;
    }
    // Word parity in front of a SENDPICP pair changes with the timing: a later cycle may cure it.
    if (!is_alignment_failure(encodable.error())) {
      return std::unexpected(encodable.error());
    }
    if (offset == std::numeric_limits<std::uint32_t>::max()) {
      return fail(message::RECEIVE_OFFSET_OVERFLOW);
    }
    ++offset;
  }
}

Result<TileProgramSchedule> PhaseProgramBuilder::with_sender(std::uint16_t tile, const Row& row,
                                                             std::uint32_t schedule_offset) const {
  const auto current = state(tile);
  if (!current) {
    return std::unexpected(current.error());
  }
  TileProgramSchedule schedule = **current;
  if (auto placed = schedule.append_sender_at(row, schedule_offset); !placed) {
    return std::unexpected(placed.error());
  }
  return schedule;
}

Result<TileProgramSchedule> PhaseProgramBuilder::with_receiver(std::uint16_t tile, const Row& row,
                                                               std::uint32_t schedule_offset,
                                                               std::uint32_t words) const {
  const auto current = state(tile);
  if (!current) {
    return std::unexpected(current.error());
  }
  TileProgramSchedule schedule = **current;
  if (auto placed = schedule.append_receiver_at(row, schedule_offset, words); !placed) {
    return std::unexpected(placed.error());
  }
  return schedule;
}

Status PhaseProgramBuilder::transfer_is_encodable_at(std::uint16_t source,
                                                     std::span<const std::uint16_t> receivers,
                                                     const MulticastPlan& plan,
                                                     std::uint32_t schedule_offset,
                                                     std::uint32_t words) const {
  // Each tile is tried with only this transfer added to what it already holds.
  const auto emits = [](const Result<TileProgramSchedule>& schedule) -> Status {
    if (!schedule) {
      return std::unexpected(schedule.error());
    }
    if (auto program = schedule->finish(); !program) {
      return std::unexpected(program.error());
    }
    return {};
  };
  if (auto sender = emits(with_sender(source, plan.sender, schedule_offset)); !sender) {
    return sender;
  }
  const std::size_t pairs = std::min(receivers.size(), plan.receivers.size());
  for (std::size_t i = 0; i < pairs; ++i) {
    if (auto receiver =
            emits(with_receiver(receivers[i], plan.receivers[i], schedule_offset, words));
        !receiver) {
      return receiver;
    }
  }
  return {};
}

Result<PhaseTransferTiming> PhaseProgramBuilder::transfer_timing_at(
    std::uint16_t source, std::span<const std::uint16_t> receivers, const MulticastPlan& plan,
    std::uint32_t schedule_offset, std::uint32_t words) const {
  if (auto rows = check_receiver_rows(receivers, plan); !rows) {
    return std::unexpected(rows.error());
  }
  if (auto sender_state = state(source); !sender_state) {
    return std::unexpected(sender_state.error());
  }
  const auto sender = scheduled_sender_timing(plan.sender, schedule_offset);
  if (!sender) {
    return std::unexpected(sender.error());
  }
  PhaseTransferTiming timing{
      sender->payload_start, sender->payload_end, sender->horizon, {}, {}, {}, sender->horizon};
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    if (receivers[i] == source) {
      return std::unexpected(ExchangeError::duplicate_tile());
    }
    const auto receiver_state = state(receivers[i]);
    if (!receiver_state) {
      return std::unexpected(receiver_state.error());
    }
    const auto base = receive_row_timing(plan.receivers[i], 0);
    if (!base) {
      return std::unexpected(base.error());
    }
    // The same window that placement computes, against the tile's open stream.
    const auto window = scheduled_receive_window(*base, schedule_offset, words,
                                                 (*receiver_state)->receive_stream());
    if (!window) {
      return std::unexpected(window.error());
    }
    timing.receiver_payload_starts.push_back(window->payload_start);
    timing.receiver_payload_ends.push_back(window->payload_end);
    timing.receiver_horizons.push_back(window->horizon);
    timing.horizon = std::max(timing.horizon, window->horizon);
  }
  return timing;
}

Result<PhaseTransferTiming> PhaseProgramBuilder::append_transfer_at(
    std::uint16_t source, std::span<const std::uint16_t> reserved_tiles,
    std::span<const std::uint16_t> receivers, const MulticastPlan& plan,
    std::uint32_t schedule_offset, std::uint32_t words) {
  auto timing = transfer_timing_at(source, receivers, plan, schedule_offset, words);
  if (!timing) {
    return timing;
  }
  if (auto rows = check_receiver_rows(receivers, plan); !rows) {
    return std::unexpected(rows.error());
  }
  // Every change is made on a copy; the copies replace the schedules only when all succeeded.
  std::vector<std::pair<std::uint16_t, TileProgramSchedule>> updates;
  const auto is_updated = [&updates](std::uint16_t tile) {
    return std::ranges::any_of(updates,
                               [tile](const auto& update) { return update.first == tile; });
  };

  auto sender = with_sender(source, plan.sender, schedule_offset);
  if (!sender) {
    return std::unexpected(sender.error());
  }
  updates.emplace_back(source, *std::move(sender));

  for (const std::uint16_t tile : reserved_tiles) {
    if (tile == source || std::ranges::count(receivers, tile) != 0 || is_updated(tile)) {
      return std::unexpected(ExchangeError::duplicate_tile());
    }
    const auto reserved_state = state(tile);
    if (!reserved_state) {
      return std::unexpected(reserved_state.error());
    }
    TileProgramSchedule reserved = **reserved_state;
    reserved.reserve_until(timing->sender_horizon);
    updates.emplace_back(tile, std::move(reserved));
  }

  for (std::size_t i = 0; i < receivers.size(); ++i) {
    const std::uint16_t tile = receivers[i];
    if (tile == source || is_updated(tile)) {
      return std::unexpected(ExchangeError::duplicate_tile());
    }
    auto receiver = with_receiver(tile, plan.receivers[i], schedule_offset, words);
    if (!receiver) {
      return std::unexpected(receiver.error());
    }
    updates.emplace_back(tile, *std::move(receiver));
  }

  for (auto& [tile, schedule] : updates) {
    tile_states_[tile] = std::move(schedule);
  }
  return timing;
}

Result<PhasePrograms> PhaseProgramBuilder::finish() && {
  PhasePrograms phase{{}, {}, 0};
  phase.programs.reserve(tile_states_.size());
  phase.tile_event_cycles.reserve(tile_states_.size());
  for (const TileProgramSchedule& schedule : tile_states_) {
    phase.tile_event_cycles.push_back(schedule.event_cycles());
    phase.event_cycles = std::max(phase.event_cycles, schedule.event_cycles());
  }
  for (std::size_t tile = 0; tile < tile_states_.size(); ++tile) {
    const TileProgramSchedule& schedule = tile_states_[tile];
    if (schedule.event_cycles() == 0) {
      phase.programs.emplace_back(std::nullopt);
      continue;
    }
    auto program = schedule.finish();
    if (!program) {
      return std::unexpected(program.error());
    }
    if (auto valid = diagnostic::validate_tile_program(tile, schedule, *program); !valid) {
      return std::unexpected(valid.error());
    }
    phase.programs.emplace_back(*std::move(program));
  }
  return phase;
}

}  // namespace vantle_exchange
