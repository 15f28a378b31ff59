#include "vantle_exchange/row_timing.hpp"

#include <algorithm>
#include <limits>
#include <ostream>

#include "failure.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange {
namespace {

constexpr std::uint64_t CYCLE_LIMIT = std::numeric_limits<std::uint32_t>::max();

using detail::fail;

// A cycle counter that reports when it would leave 32 bits.
class CycleCounter {
 public:
  explicit CycleCounter(std::uint32_t start) : cycles_(start) {}
  bool advance(std::uint32_t cycles) {
    cycles_ += cycles;
    return cycles_ <= CYCLE_LIMIT;
  }
  std::uint32_t value() const { return static_cast<std::uint32_t>(cycles_); }

 private:
  std::uint64_t cycles_;
};

std::optional<std::uint32_t> checked_sum(std::uint32_t a, std::uint32_t b) {
  const std::uint64_t sum = std::uint64_t{a} + b;
  if (sum > CYCLE_LIMIT) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(sum);
}

// The row body: the words after the entry word up to the first return word.
struct RowBody {
  std::size_t end;
};

Result<RowBody> row_body(const Row& row, std::string_view entry_message,
                         std::string_view return_message) {
  if (row[0] != ROW_ENTRY_INSTRUCTION) {
    return fail(entry_message);
  }
  const auto found = std::ranges::find(row, RETURN_INSTRUCTION);
  if (found == row.end()) {
    return fail(return_message);
  }
  return RowBody{static_cast<std::size_t>(found - row.begin())};
}

constexpr std::uint32_t PIC_VALUE_MASK = 0x3FFFF;
constexpr std::uint32_t MUX_VALUE_MASK = 0x1FFF;
constexpr std::uint32_t PAIRED_FLAG = 0x2000;          // bit 13 of an XPIC delay
constexpr std::uint32_t PIC_SELECTOR = 0x40000;        // bit 18 of a PIC delay
constexpr std::uint32_t PAIR_PIC_SELECTOR = 1u << 27;  // bit 27 of a SENDPICP first word

ReceiveEventKind mux_kind(bool paired, std::uint32_t mux_value) {
  const bool neutral = mux_value == TILE_MUX_EXCHANGE;
  if (paired) {
    return neutral ? ReceiveEventKind::PairedNeutral : ReceiveEventKind::PairedSource;
  }
  return neutral ? ReceiveEventKind::OrdinaryNeutral : ReceiveEventKind::OrdinarySource;
}

std::optional<ReceiveEventKind> control_kind(std::uint32_t word) {
  if (is_delay_pic(word)) {
    return (word & PIC_SELECTOR) != 0 ? ReceiveEventKind::Format : ReceiveEventKind::Pointer;
  }
  if (is_delay_xpic(word)) {
    return mux_kind((word & PAIRED_FLAG) != 0, word & MUX_VALUE_MASK);
  }
  return std::nullopt;
}

// The two controls of a SENDPICP pair, as the zero-delay words that would deliver them alone.
// The payload carries the XPIC control in bits 31..18 (paired flag on top) and the PIC value in
// bits 17..0; the PIC selector is bit 27 of the first word.
void push_pair_controls(std::vector<ReceiveEvent>& events, std::uint32_t control_cycles,
                        std::uint32_t first_word, std::uint32_t payload) {
  const std::uint32_t paired = payload >> 31;
  const std::uint32_t xpic_value = (payload >> 18) & MUX_VALUE_MASK;
  events.push_back(
      {control_cycles, delay_xpic(0, paired, xpic_value), mux_kind(paired != 0, xpic_value)});
  const std::uint32_t pic_selector = (first_word & PAIR_PIC_SELECTOR) != 0 ? 1 : 0;
  events.push_back({control_cycles, delay_pic(0, pic_selector, payload & PIC_VALUE_MASK),
                    pic_selector != 0 ? ReceiveEventKind::Format : ReceiveEventKind::Pointer});
}

Result<std::vector<ReceiveEvent>> walk_receive_events(const Row& row, std::size_t end,
                                                      CycleCounter& cycles) {
  std::vector<ReceiveEvent> events;
  for (std::size_t cursor = 1; cursor < end;) {
    const std::uint32_t word = row[cursor];
    if (is_send_control_pair(word)) {
      if (cursor + 1 >= row.size()) {
        return fail(message::TRUNCATED_SENDPICP_PAYLOAD);
      }
      // The pair's controls take effect one cycle after it issues.
      CycleCounter control = cycles;
      if (!control.advance(1) || !cycles.advance(instruction_advance(word))) {
        return fail(message::RECEIVE_EVENT_HORIZON_OVERFLOW);
      }
      push_pair_controls(events, control.value(), word, row[cursor + 1]);
      cursor += 2;
      continue;
    }
    if (!cycles.advance(instruction_advance(word))) {
      return fail(message::RECEIVE_EVENT_HORIZON_OVERFLOW);
    }
    // A delay's control takes effect when the delay runs out.
    if (const auto kind = control_kind(word)) {
      events.push_back({cycles.value(), word, *kind});
    }
    ++cursor;
  }
  return events;
}

// Records the role of each control; each role may occur once.
Status assign_roles(ReceiveRowTiming& timing) {
  for (const ReceiveEvent& event : timing.events) {
    switch (event.kind) {
      case ReceiveEventKind::OrdinaryNeutral:
      case ReceiveEventKind::PairedNeutral:
        if (timing.neutral_cycles) {
          return fail(message::MULTIPLE_RECEIVE_TEARDOWNS);
        }
        timing.neutral_cycles = event.cycles;
        break;
      case ReceiveEventKind::Pointer:
        if (timing.pointer_address) {
          return fail(message::MULTIPLE_RECEIVE_POINTERS);
        }
        timing.pointer_cycles = event.cycles;
        timing.pointer_address = (event.instruction & PIC_VALUE_MASK) * 4;
        break;
      case ReceiveEventKind::Format: {
        const std::uint32_t value = event.instruction & PIC_VALUE_MASK;
        if (value == 1 || value == 2) {
          if (timing.format_start_cycles) {
            return fail(message::MULTIPLE_PAIRED_FORMAT_STARTS);
          }
          timing.format_start_cycles = event.cycles;
        } else if (value != 0) {
          return fail(message::PAIRED_RECEIVE_FORMAT_VALUE);
        } else {
          if (timing.format_end_cycles) {
            return fail(message::MULTIPLE_PAIRED_FORMAT_ENDS);
          }
          timing.format_end_cycles = event.cycles;
        }
        break;
      }
      case ReceiveEventKind::OrdinarySource:
      case ReceiveEventKind::PairedSource:
        if (timing.source_cycles) {
          return fail(message::MULTIPLE_RECEIVE_SOURCES);
        }
        timing.source_cycles = event.cycles;
        break;
    }
  }
  return {};
}

bool has_paired_mux_event(const std::vector<ReceiveEvent>& events) {
  return std::ranges::any_of(events, [](const ReceiveEvent& event) {
    return event.kind == ReceiveEventKind::PairedSource ||
           event.kind == ReceiveEventKind::PairedNeutral;
  });
}

Status assign_mode(ReceiveRowTiming& timing) {
  if (!timing.format_start_cycles && !has_paired_mux_event(timing.events)) {
    timing.mode = ReceiveMode::Ordinary;
    if (!timing.source_cycles || !timing.neutral_cycles) {
      return fail(message::INCOMPLETE_ORDINARY_RECEIVE_MUX);
    }
    return {};
  }
  // The partner tile of a paired receive has no mux controls at all.
  timing.mode = ReceiveMode::Paired64;
  if (!timing.format_start_cycles || !timing.format_end_cycles) {
    return fail(message::INCOMPLETE_PAIRED_RECEIVE_FORMAT);
  }
  return {};
}

Status shift(std::optional<std::uint32_t>& cycles, std::uint32_t offset) {
  if (!cycles) {
    return {};
  }
  const auto shifted = checked_sum(*cycles, offset);
  if (!shifted) {
    return fail(message::RECEIVE_OFFSET_OVERFLOW);
  }
  cycles = *shifted;
  return {};
}

// The mux interval of a receive: a paired receive holds the mux from its first selection or
// format start to its last teardown or format end; an ordinary one for one cycle per word from
// its selection.
struct SourceInterval {
  std::uint32_t start;
  std::uint32_t end;
};

Result<SourceInterval> source_interval(const ReceiveRowTiming& timing,
                                       std::uint32_t received_words) {
  if (timing.mode == ReceiveMode::Paired64) {
    if (!timing.format_start_cycles) {
      return fail(message::PAIRED_RECEIVE_FORMAT_START);
    }
    if (!timing.format_end_cycles) {
      return fail(message::PAIRED_RECEIVE_FORMAT_END);
    }
    const std::uint32_t start = timing.source_cycles
                                    ? std::min(*timing.source_cycles, *timing.format_start_cycles)
                                    : *timing.format_start_cycles;
    const std::uint32_t end = timing.neutral_cycles
                                  ? std::max(*timing.neutral_cycles, *timing.format_end_cycles)
                                  : *timing.format_end_cycles;
    return SourceInterval{start, end};
  }
  if (!timing.source_cycles) {
    return fail(message::RECEIVE_SOURCE_TIMING);
  }
  const auto end = checked_sum(*timing.source_cycles, received_words);
  if (!end) {
    return fail(message::RECEIVE_SOURCE_TIMING_OVERFLOW);
  }
  return SourceInterval{*timing.source_cycles, *end};
}

// The received words are written one per cycle from the pointer control on.
Result<std::uint32_t> payload_end(const ReceiveRowTiming& timing, std::uint32_t received_words) {
  if (!timing.pointer_cycles) {
    return fail(message::RECEIVE_POINTER_EVENT);
  }
  const auto end = checked_sum(*timing.pointer_cycles, received_words);
  if (!end) {
    return fail(message::RECEIVE_PAYLOAD_TIMING_OVERFLOW);
  }
  return *end;
}

// The row's trailing slack after its data, measured at offset 0.
Result<std::uint32_t> trailing_guard(const ReceiveRowTiming& base, std::uint32_t received_words) {
  const auto source = source_interval(base, received_words);
  if (!source) {
    return std::unexpected(source.error());
  }
  const auto payload = payload_end(base, received_words);
  if (!payload) {
    return std::unexpected(payload.error());
  }
  const std::uint32_t data_end = std::max(source->end, *payload);
  return base.horizon_cycles > data_end ? base.horizon_cycles - data_end : 0;
}

bool continues_open_stream(const ReceiveRowTiming& timing,
                           const std::optional<ReceiveStream>& previous) {
  return timing.mode == ReceiveMode::Ordinary && previous &&
         previous->mode == ReceiveMode::Ordinary &&
         previous->next_address == timing.pointer_address;
}

std::vector<ReceiveEvent> window_events(const ReceiveRowTiming& timing, std::uint32_t source_end,
                                        bool drop_pointer) {
  std::vector<ReceiveEvent> events;
  events.reserve(timing.events.size());
  for (ReceiveEvent event : timing.events) {
    if (event.kind == ReceiveEventKind::Pointer && drop_pointer) {
      continue;
    }
    // The mux is torn down when the last received word has passed.
    if (event.kind == ReceiveEventKind::OrdinaryNeutral) {
      event.cycles = source_end;
    }
    events.push_back(event);
  }
  std::ranges::stable_sort(events, {}, &ReceiveEvent::cycles);
  return events;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, ReceiveEventKind kind) {
  switch (kind) {
    case ReceiveEventKind::OrdinarySource:
      return out << "OrdinarySource";
    case ReceiveEventKind::OrdinaryNeutral:
      return out << "OrdinaryNeutral";
    case ReceiveEventKind::PairedSource:
      return out << "PairedSource";
    case ReceiveEventKind::PairedNeutral:
      return out << "PairedNeutral";
    case ReceiveEventKind::Pointer:
      return out << "Pointer";
    case ReceiveEventKind::Format:
      return out << "Format";
  }
  return out << "ReceiveEventKind(" << static_cast<int>(kind) << ')';
}

std::ostream& operator<<(std::ostream& out, const ReceiveEvent& event) {
  return out << "ReceiveEvent { cycles: " << event.cycles << ", instruction: 0x" << std::hex
             << event.instruction << std::dec << ", kind: " << event.kind << " }";
}

std::ostream& operator<<(std::ostream& out, ReceiveMode mode) {
  switch (mode) {
    case ReceiveMode::Ordinary:
      return out << "Ordinary";
    case ReceiveMode::Paired64:
      return out << "Paired64";
  }
  return out << "ReceiveMode(" << static_cast<int>(mode) << ')';
}

Result<SenderRowTiming> sender_row_timing(const Row& row, std::uint32_t schedule_offset) {
  const auto body = row_body(row, message::SENDER_ROW_ENTRY, message::SENDER_ROW_RETURN);
  if (!body) {
    return std::unexpected(body.error());
  }
  CycleCounter cycles(schedule_offset);
  std::optional<std::uint32_t> start;
  std::uint32_t end = 0;
  for (std::size_t cursor = 1; cursor < body->end;) {
    const std::uint32_t word = row[cursor];
    const bool payload = is_payload_send(word);
    if (payload && !start) {
      start = cycles.value();
    }
    if (!cycles.advance(instruction_advance(word))) {
      return fail(message::SENDER_EVENT_HORIZON_OVERFLOW);
    }
    if (payload) {
      end = cycles.value();
    }
    // A SENDPICP pair's payload word is part of the pair, never an instruction of its own.
    cursor += is_send_control_pair(word) ? 2u : 1u;
  }
  if (!start) {
    return fail(message::SENDER_PAYLOAD);
  }
  return SenderRowTiming{*start, end, cycles.value()};
}

Result<ReceiveRowTiming> receive_row_timing(const Row& row, std::uint32_t schedule_offset) {
  const auto body = row_body(row, message::RECEIVE_ROW_ENTRY, message::RECEIVE_ROW_RETURN);
  if (!body) {
    return std::unexpected(body.error());
  }
  CycleCounter cycles(schedule_offset);
  auto events = walk_receive_events(row, body->end, cycles);
  if (!events) {
    return std::unexpected(events.error());
  }
  ReceiveRowTiming timing{
      .mode = ReceiveMode::Ordinary,
      .events = *std::move(events),
      .neutral_cycles = std::nullopt,
      .source_cycles = std::nullopt,
      .format_start_cycles = std::nullopt,
      .format_end_cycles = std::nullopt,
      .pointer_cycles = std::nullopt,
      .horizon_cycles = cycles.value(),
      .pointer_address = std::nullopt,
  };
  if (auto roles = assign_roles(timing); !roles) {
    return std::unexpected(roles.error());
  }
  if (auto mode = assign_mode(timing); !mode) {
    return std::unexpected(mode.error());
  }
  return timing;
}

Result<ReceiveRowTiming> receive_row_timing_from_base(const ReceiveRowTiming& base,
                                                      std::uint32_t offset) {
  ReceiveRowTiming timing = base;
  for (ReceiveEvent& event : timing.events) {
    const auto shifted = checked_sum(event.cycles, offset);
    if (!shifted) {
      return fail(message::RECEIVE_OFFSET_OVERFLOW);
    }
    event.cycles = *shifted;
  }
  for (auto* cycles : {&timing.neutral_cycles, &timing.source_cycles, &timing.format_start_cycles,
                       &timing.format_end_cycles, &timing.pointer_cycles}) {
    if (auto shifted = shift(*cycles, offset); !shifted) {
      return std::unexpected(shifted.error());
    }
  }
  const auto horizon = checked_sum(timing.horizon_cycles, offset);
  if (!horizon) {
    return fail(message::RECEIVE_OFFSET_OVERFLOW);
  }
  timing.horizon_cycles = *horizon;
  return timing;
}

Result<ScheduledSenderTiming> scheduled_sender_timing(const Row& row,
                                                      std::uint32_t schedule_offset) {
  const auto timing = sender_row_timing(row, schedule_offset);
  if (!timing) {
    return std::unexpected(timing.error());
  }
  return ScheduledSenderTiming{timing->start_cycles, timing->end_cycles, timing->horizon_cycles};
}

Result<ScheduledReceiverWindow> scheduled_receive_window(
    const ReceiveRowTiming& base, std::uint32_t schedule_offset, std::uint32_t received_words,
    const std::optional<ReceiveStream>& previous) {
  const auto timing = receive_row_timing_from_base(base, schedule_offset);
  if (!timing) {
    return std::unexpected(timing.error());
  }
  const auto source = source_interval(*timing, received_words);
  if (!source) {
    return std::unexpected(source.error());
  }
  const bool continues = continues_open_stream(*timing, previous);
  const auto payload = payload_end(*timing, received_words);
  if (!payload) {
    return std::unexpected(payload.error());
  }
  const auto guard = trailing_guard(base, received_words);
  if (!guard) {
    return std::unexpected(guard.error());
  }
  const auto horizon = checked_sum(std::max(source->end, *payload), *guard);
  if (!horizon) {
    return fail(message::RECEIVE_HORIZON_OVERFLOW);
  }
  ScheduledReceiverWindow window{
      .events = window_events(*timing, source->end, continues),
      .source_start = source->start,
      .source_end = source->end,
      .payload_start = *timing->pointer_cycles,
      .payload_end = *payload,
      .horizon = *horizon,
      .pointer_address = timing->pointer_address,
  };
  if (auto valid = validate_receive_events(window.events); !valid) {
    return std::unexpected(valid.error());
  }
  return window;
}

Status validate_receive_events(std::span<const ReceiveEvent> events) {
  for (std::size_t cursor = 0; cursor < events.size();) {
    std::size_t end = cursor + 1;
    while (end < events.size() && events[end].cycles == events[cursor].cycles) {
      ++end;
    }
    const std::size_t group = end - cursor;
    if (group > 2 ||
        (group == 2 && !receive_events_can_share_instruction(events[cursor], events[cursor + 1]))) {
      return fail(message::INCOMPATIBLE_SIMULTANEOUS_RECEIVE_CONTROLS);
    }
    cursor = end;
  }
  return {};
}

bool receive_events_can_share_instruction(const ReceiveEvent& left, const ReceiveEvent& right) {
  return left.cycles == right.cycles && is_pic(left.kind) != is_pic(right.kind);
}

}  // namespace vantle_exchange
