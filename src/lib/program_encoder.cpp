#include "vantle_exchange/program_encoder.hpp"

#include <algorithm>

#include "failure.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange {
namespace {

using detail::fail;

// An idle SENDPICP sends at most 64 words, so it spans at most 64 cycles.
constexpr std::uint32_t MAXIMUM_PAIR_CYCLES = 64;

std::uint32_t parity_of(const std::vector<std::uint32_t>& words) {
  return static_cast<std::uint32_t>(words.size() % 2);
}

// The events from `cursor` on that share its cycle: [cursor, end).
std::size_t group_end(std::span<const ReceiveEvent> events, std::size_t cursor) {
  std::size_t end = cursor + 1;
  while (end < events.size() && events[end].cycles == events[cursor].cycles) {
    ++end;
  }
  return end;
}

// Where the instruction that carries the next group must issue, or `horizon_cycles` after the
// last group.
std::uint32_t next_carrier_start(std::span<const ReceiveEvent> events, std::size_t end,
                                 std::uint32_t horizon_cycles) {
  if (end >= events.size()) {
    return horizon_cycles;
  }
  return events[end].cycles == 0 ? 0 : events[end].cycles - 1;
}

// A PIC and an XPIC control on one cycle: an idle SENDPICP (no source, no send control) issued
// the cycle before carries both, and lasts until the next carrier must issue.
Status append_control_pair(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                           std::span<const ReceiveEvent> group, std::uint32_t next_start,
                           bool align_control_pairs) {
  if (group.front().cycles == 0) {
    return fail(message::RECEIVE_CONTROL_AT_PHASE_ENTRY);
  }
  const std::uint32_t instruction_start = group.front().cycles - 1;
  const Status filled = align_control_pairs
                            ? append_plain_delay_aligned(words, event_cycles, instruction_start, 0)
                            : append_plain_delay(words, event_cycles, instruction_start);
  if (!filled) {
    return filled;
  }
  if (next_start < event_cycles) {
    return fail(message::RECEIVE_CONTROL_ORDER);
  }
  const std::uint32_t advance = std::min(next_start - event_cycles, MAXIMUM_PAIR_CYCLES);
  if (advance == 0) {
    return fail(message::EMPTY_SENDPICP_INTERVAL);
  }
  const auto pair = encode_send_control_pair(advance - 1, 0, 0, group);
  if (!pair) {
    return std::unexpected(pair.error());
  }
  words.push_back(pair->first);
  words.push_back(pair->payload);
  event_cycles += advance;
  return {};
}

// One control: its own PIC or XPIC delay, re-timed to run out on the control's cycle, after
// plain delays when the control lies beyond the delay's reach.
Status append_single_control(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                             const ReceiveEvent& event) {
  if (event.cycles < event_cycles) {
    return fail(message::RECEIVE_EVENT_ORDER);
  }
  if (event.cycles == event_cycles) {
    return fail(message::RECEIVE_CONTROL_ISSUE_INTERVAL);
  }
  const auto reach = maximum_timed_instruction_advance(event.instruction);
  if (!reach) {
    return fail(message::RECEIVE_TIMED_EVENT);
  }
  if (event.cycles - event_cycles > *reach) {
    if (auto filled = append_plain_delay(words, event_cycles, event.cycles - *reach); !filled) {
      return filled;
    }
  }
  std::uint32_t word = event.instruction;
  if (auto timed = set_instruction_advance(word, event.cycles - event_cycles); !timed) {
    return timed;
  }
  words.push_back(word);
  event_cycles = event.cycles;
  return {};
}

}  // namespace

Result<std::vector<std::uint32_t>> build_scheduled_program(
    std::span<const ScheduledSenderRow> senders, std::span<const ReceiveEvent> receive_events,
    std::uint32_t horizon_cycles) {
  std::vector<ScheduledSenderRow> messages(senders.begin(), senders.end());
  std::ranges::stable_sort(messages, {}, &ScheduledSenderRow::start_cycles);
  for (std::size_t i = 1; i < messages.size(); ++i) {
    if (messages[i - 1].end_cycles > messages[i].start_cycles) {
      return fail(message::OVERLAPPING_OUTGOING_MESSAGES);
    }
  }
  std::vector<ReceiveEvent> events(receive_events.begin(), receive_events.end());
  std::ranges::stable_sort(events, {}, &ReceiveEvent::cycles);
  if (auto valid = validate_receive_events(events); !valid) {
    return std::unexpected(valid.error());
  }

  std::vector<std::uint32_t> words;
  std::uint32_t event_cycles = 0;
  const std::span<const ReceiveEvent> all(events);
  std::size_t event_index = 0;
  const auto take_events_until = [&](auto in_range) {
    const std::size_t first = event_index;
    while (event_index < events.size() && in_range(events[event_index].cycles)) {
      ++event_index;
    }
    return all.subspan(first, event_index - first);
  };
  for (const ScheduledSenderRow& message : messages) {
    const auto before =
        take_events_until([&](std::uint32_t c) { return c < message.start_cycles; });
    if (auto emitted =
            append_receive_events(words, event_cycles, before, message.start_cycles, true);
        !emitted) {
      return std::unexpected(emitted.error());
    }
    const auto inside = take_events_until([&](std::uint32_t c) { return c <= message.end_cycles; });
    if (auto sent = append_sender_message(words, event_cycles, message, inside); !sent) {
      return std::unexpected(sent.error());
    }
  }
  if (auto rest = append_receive_events(words, event_cycles, all.subspan(event_index),
                                        horizon_cycles, true);
      !rest) {
    return std::unexpected(rest.error());
  }
  words.push_back(RETURN_INSTRUCTION);
  return words;
}

Status append_receive_events(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                             std::span<const ReceiveEvent> events, std::uint32_t horizon_cycles,
                             bool align_control_pairs) {
  for (std::size_t cursor = 0; cursor < events.size();) {
    const std::size_t end = group_end(events, cursor);
    const auto group = events.subspan(cursor, end - cursor);
    const Status appended =
        group.size() == 1 ? append_single_control(words, event_cycles, group.front())
                          : append_control_pair(words, event_cycles, group,
                                                next_carrier_start(events, end, horizon_cycles),
                                                align_control_pairs);
    if (!appended) {
      return appended;
    }
    cursor = end;
  }
  return append_plain_delay(words, event_cycles, horizon_cycles);
}

Status append_plain_delay(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                          std::uint32_t target_cycles) {
  if (target_cycles < event_cycles) {
    return fail(message::PLAN_DELAY_ORDER);
  }
  std::uint32_t remaining = target_cycles - event_cycles;
  while (remaining != 0) {
    const std::uint32_t chunk = std::min(remaining, MAXIMUM_DELAY_ADVANCE);
    words.push_back(delay(chunk - 1));
    event_cycles += chunk;
    remaining -= chunk;
  }
  return {};
}

Status append_plain_delay_aligned(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                                  std::uint32_t target_cycles, std::uint32_t word_parity) {
  if (target_cycles < event_cycles) {
    return fail(message::PLAN_DELAY_ORDER);
  }
  const std::uint32_t distance = target_cycles - event_cycles;
  if (distance == 0) {
    if (parity_of(words) != word_parity) {
      return fail(message::SENDPICP_INSTRUCTION_ALIGNMENT);
    }
    return {};
  }
  const std::uint32_t minimum_words = (distance - 1) / MAXIMUM_DELAY_ADVANCE + 1;
  std::uint32_t delay_words = minimum_words;
  if ((words.size() + delay_words) % 2 != word_parity) {
    ++delay_words;
  }
  // A delay word lasts at least one cycle.
  if (delay_words > distance) {
    return fail(message::SENDPICP_INSTRUCTION_ALIGNMENT);
  }
  std::uint32_t remaining = distance;
  for (std::uint32_t words_left = delay_words; words_left > 0; --words_left) {
    // Take as much as one word can while leaving one cycle for each word still to come.
    const std::uint32_t chunk = std::min(remaining - (words_left - 1), MAXIMUM_DELAY_ADVANCE);
    words.push_back(delay(chunk - 1));
    event_cycles += chunk;
    remaining -= chunk;
  }
  return {};
}

}  // namespace vantle_exchange
