#include <algorithm>
#include <sstream>

#include "../lib/failure.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/log.hpp"

namespace vantle_exchange::diagnostic {
namespace {

using detail::fail;

// A control and the cycle at which it takes effect.
using TimedControl = std::pair<std::uint32_t, IncomingControl>;

// An outgoing send's issue interval.
struct SendInterval {
  std::uint32_t start;
  std::uint32_t end;
  SendEncoding encoding;
};

constexpr std::string_view MISMATCH_FIELDS[] = {"message",    "tile",          "first_mismatch",
                                                "actual_len", "expected_len",  "actual",
                                                "expected",   "actual_window", "expected_window"};
constexpr log::Callsite CONTROL_MISMATCH{
    .message = "encoded incoming controls differ from the phase schedule",
    .target = "vantle_exchange::diagnostic",
    .level = log::Level::Debug,
    .location = std::source_location::current(),
    .field_names = MISMATCH_FIELDS,
};

bool key_less(const TimedControl& a, const TimedControl& b) {
  return std::pair(a.first, control_key(a.second)) < std::pair(b.first, control_key(b.second));
}

// What the program does, read from its instructions alone: a delay's control takes effect when
// the delay runs out, a send's controls one cycle after it issues. A SENDPICP pair with send
// control 0 carries controls only; every other send is outgoing data.
void collect_actual(const PlanProgramDiagnostic& diagnostic, std::vector<TimedControl>& controls,
                    std::vector<SendInterval>& sends) {
  for (const DecodedPlanInstruction& instruction : diagnostic.instructions) {
    if (const auto* control = std::get_if<IncomingControl>(&instruction.operation)) {
      controls.emplace_back(instruction.end_cycle, *control);
    } else if (const auto* send = std::get_if<Send>(&instruction.operation)) {
      for (const IncomingControl& carried : send->controls) {
        controls.emplace_back(instruction.start_cycle + 1, carried);
      }
      if (send->send_control != std::optional<std::uint8_t>(0)) {
        sends.push_back({instruction.start_cycle, instruction.end_cycle, send->encoding});
      }
    }
  }
}

std::vector<TimedControl> expected_controls(const TileProgramSchedule& schedule) {
  std::vector<TimedControl> controls;
  controls.reserve(schedule.receive_events().size());
  for (const ReceiveEvent& event : schedule.receive_events()) {
    const IncomingControl control =
        is_xpic(event.kind)
            ? IncomingControl{IncomingControlStream::Xpic, event.instruction & 0x3FFF}
            : IncomingControl{IncomingControlStream::Pic, event.instruction & 0x7FFFF};
    controls.emplace_back(event.cycles, control);
  }
  return controls;
}

std::string render_entry(const TimedControl& entry) {
  std::ostringstream out;
  out << '(' << entry.first << ", " << entry.second << ')';
  return std::move(out).str();
}

std::string render_optional_entry(const std::vector<TimedControl>& list, std::size_t index) {
  return index < list.size() ? "Some(" + render_entry(list[index]) + ")" : "None";
}

std::string render_window(const std::vector<TimedControl>& list, std::size_t start,
                          std::size_t end) {
  std::string text = "[";
  for (std::size_t i = start; i < std::min(end, list.size()); ++i) {
    text += (i == start ? "" : ", ") + render_entry(list[i]);
  }
  return text + "]";
}

void report_control_mismatch(std::size_t tile, const std::vector<TimedControl>& actual,
                             const std::vector<TimedControl>& expected) {
  const auto sink = log::sink_for(CONTROL_MISMATCH);
  if (!sink) {
    return;
  }
  const std::size_t common = std::min(actual.size(), expected.size());
  std::size_t first_mismatch = 0;
  while (first_mismatch < common && actual[first_mismatch] == expected[first_mismatch]) {
    ++first_mismatch;
  }
  const std::size_t window_start = first_mismatch >= 3 ? first_mismatch - 3 : 0;
  const std::size_t window_end =
      std::min(first_mismatch + 4, std::max(actual.size(), expected.size()));
  sink.emit({
      {"message", std::string(CONTROL_MISMATCH.message)},
      {"tile", std::uint64_t{tile}},
      {"first_mismatch", std::uint64_t{first_mismatch}},
      {"actual_len", std::uint64_t{actual.size()}},
      {"expected_len", std::uint64_t{expected.size()}},
      {"actual", render_optional_entry(actual, first_mismatch)},
      {"expected", render_optional_entry(expected, first_mismatch)},
      {"actual_window", render_window(actual, window_start, window_end)},
      {"expected_window", render_window(expected, window_start, window_end)},
  });
}

bool overlaps(const SendInterval& send, const ScheduledSenderRow& sender) {
  return send.start < sender.end_cycles && sender.start_cycles < send.end;
}

// The program's sends tile the scheduled payload interval exactly, back to back.
bool covers_exactly(const std::vector<SendInterval>& sends, const ScheduledSenderRow& sender) {
  const SendInterval* previous = nullptr;
  for (const SendInterval& send : sends) {
    if (!overlaps(send, sender)) {
      continue;
    }
    if (previous == nullptr ? send.start != sender.start_cycles : send.start != previous->end) {
      return false;
    }
    previous = &send;
  }
  return previous != nullptr && previous->end == sender.end_cycles;
}

bool inside_some_message(const SendInterval& send, const std::vector<ScheduledSenderRow>& senders) {
  return std::ranges::any_of(senders, [&](const ScheduledSenderRow& sender) {
    return sender.start_cycles <= send.start && send.end <= sender.end_cycles;
  });
}

}  // namespace

Result<PlanProgramDiagnostic> validate_tile_program(std::size_t tile,
                                                    const TileProgramSchedule& schedule,
                                                    std::span<const std::uint32_t> words) {
  auto diagnostic = diagnose_plan_program(words, std::nullopt);
  if (!diagnostic) {
    return diagnostic;
  }
  if (diagnostic->event_cycles != schedule.event_cycles()) {
    return fail(message::ENCODED_TILE_HORIZON_MISMATCH);
  }
  if (std::ranges::any_of(diagnostic->instructions, [](const DecodedPlanInstruction& i) {
        return std::holds_alternative<Unknown>(i.operation);
      })) {
    return fail(message::UNKNOWN_ENCODED_EXCHANGE_INSTRUCTION);
  }
  std::vector<TimedControl> actual;
  std::vector<SendInterval> sends;
  collect_actual(*diagnostic, actual, sends);
  std::vector<TimedControl> expected = expected_controls(schedule);
  std::ranges::sort(actual, key_less);
  std::ranges::sort(expected, key_less);
  if (actual != expected) {
    report_control_mismatch(tile, actual, expected);
    return fail(message::ENCODED_INCOMING_CONTROL_MISMATCH);
  }
  for (const ScheduledSenderRow& sender : schedule.senders()) {
    if (!covers_exactly(sends, sender)) {
      return fail(message::ENCODED_SENDER_INTERVAL_MISMATCH);
    }
  }
  for (const SendInterval& send : sends) {
    if (!inside_some_message(send, schedule.senders())) {
      return fail(message::UNEXPECTED_ENCODED_OUTGOING_INTERVAL);
    }
  }
  return diagnostic;
}

}  // namespace vantle_exchange::diagnostic
