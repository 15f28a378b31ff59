#include <algorithm>
#include <limits>

#include "failure.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/program_encoder.hpp"

namespace vantle_exchange {
namespace {

using detail::fail;

// The first SEND of a message carries at most 64 words; SENDOFF, SENDPIC and SENDPICP carry
// the rest.
constexpr std::uint32_t FIRST_SEND_WORDS = 64;
constexpr std::uint32_t SEND_OFF_WORDS = 4096;
constexpr std::uint32_t CARRIER_WORDS = 64;
constexpr std::uint32_t MAXIMUM_COUNT_MINUS_ONE = 63;
constexpr std::uint32_t MAXIMUM_SOURCE_WORD_ADDRESS = 0x3FFFF;
constexpr std::uint32_t MAXIMUM_SEND_CONTROL = 7;

constexpr std::uint32_t SEND_CONTROL_BASE = 0x70100000;
constexpr std::uint32_t SEND_CONTROL_PAIR_BASE = 0xF0000000;
constexpr std::uint32_t PIC_VALUE_MASK = 0x3FFFF;
constexpr std::uint32_t XPIC_CONTROL_MASK = 0x3FFF;  // paired flag and mux value of an XPIC delay
constexpr std::uint32_t MUX_VALUE_MASK = 0x1FFF;

constexpr std::uint32_t paired_flag(std::uint32_t xpic_word) {
  return (xpic_word >> 13) & 1;
}
constexpr std::uint32_t pic_selector(std::uint32_t pic_word) {
  return (pic_word >> 18) & 1;
}

// The chunks in which `count` plain payload words go out: the first limited by the SEND (or by
// a SENDOFF once the message has started), the rest by SENDOFF.
std::vector<std::uint32_t> payload_chunks(std::uint32_t count, bool started) {
  std::vector<std::uint32_t> chunks;
  std::uint32_t rest = count;
  std::uint32_t limit = started ? SEND_OFF_WORDS : FIRST_SEND_WORDS;
  while (rest != 0) {
    const std::uint32_t chunk = std::min(rest, limit);
    chunks.push_back(chunk);
    rest -= chunk;
    limit = SEND_OFF_WORDS;
  }
  return chunks;
}

// One more word fixes the parity: the last chunk of two or more words is split into one word
// and the rest.
bool split_for_parity(std::vector<std::uint32_t>& chunks) {
  const auto splittable = std::ranges::find_if(chunks.rbegin(), chunks.rend(),
                                               [](std::uint32_t chunk) { return chunk >= 2; });
  if (splittable == chunks.rend()) {
    return false;
  }
  const auto position = std::prev(splittable.base());
  const std::uint32_t rest = *position - 1;
  *position = 1;
  chunks.insert(std::next(position), rest);
  return true;
}

// The carrier issues one cycle before its controls take effect.
std::uint32_t carrier_boundary(std::span<const ReceiveEvent> controls, std::size_t end,
                               std::uint32_t message_end) {
  if (end >= controls.size()) {
    return message_end;
  }
  return controls[end].cycles == 0 ? 0 : controls[end].cycles - 1;
}

bool pair_follows(std::span<const ReceiveEvent> controls, std::size_t end) {
  return end + 1 < controls.size() && controls[end].cycles == controls[end + 1].cycles;
}

}  // namespace

Result<SenderPayload> sender_payload(const Row& row) {
  std::optional<std::uint32_t> initial;
  std::uint64_t words = 0;
  for (std::size_t cursor = 0; cursor < row.size();) {
    const std::uint32_t word = row[cursor];
    if (is_send(word)) {
      if (initial) {
        return fail(message::MULTIPLE_INITIAL_SENDS);
      }
      initial = word;
      words += instruction_advance(word);
    } else if (is_send_off(word)) {
      words += instruction_advance(word);
    }
    if (words > std::numeric_limits<std::uint32_t>::max()) {
      return fail(message::SENDER_PAYLOAD_OVERFLOW);
    }
    // A SENDPICP pair's payload word is never an instruction of its own.
    cursor += is_send_control_pair(word) ? 2u : 1u;
  }
  if (!initial) {
    return fail(message::SENDER_PAYLOAD);
  }
  // The message is re-encoded with the initial SEND's send control; without one it would go
  // nowhere, and its program would not send the payload the schedule expects.
  if ((*initial & 7) == 0) {
    return fail(message::SEND_CONTROL);
  }
  return SenderPayload{*initial, static_cast<std::uint32_t>(words)};
}

Status append_sender_message(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                             const ScheduledSenderRow& sender,
                             std::span<const ReceiveEvent> controls) {
  if (auto reached = append_plain_delay(words, event_cycles, sender.start_cycles); !reached) {
    return reached;
  }
  const auto payload = sender_payload(sender.row);
  if (!payload) {
    return std::unexpected(payload.error());
  }
  const std::uint32_t initial = payload->initial_instruction;
  const std::uint32_t direction = initial & 7;
  const std::uint32_t initial_source = (initial >> 3) & MAXIMUM_SOURCE_WORD_ADDRESS;
  std::uint32_t remaining = payload->words;
  std::uint32_t sent = 0;
  bool started = false;

  for (std::size_t cursor = 0; cursor < controls.size();) {
    std::size_t end = cursor + 1;
    while (end < controls.size() && controls[end].cycles == controls[cursor].cycles) {
      ++end;
    }
    const auto group = controls.subspan(cursor, end - cursor);
    if (group.front().cycles == 0) {
      return fail(message::SEND_CONTROL_AT_PHASE_ENTRY);
    }
    const std::uint32_t control_start = group.front().cycles - 1;
    if (control_start < event_cycles) {
      return fail(message::SEND_CONTROL_ORDER);
    }
    const std::uint32_t distance = control_start - event_cycles;
    // The carrier must itself send at least one word.
    if (distance >= remaining) {
      return fail(message::SEND_CONTROL_BEYOND_PAYLOAD);
    }
    const auto parity = group.size() == 2 ? std::optional<std::uint32_t>(0) : std::nullopt;
    if (auto plain = emit_sender_words(words, event_cycles, initial, direction, remaining, sent,
                                       started, distance, parity);
        !plain) {
      return plain;
    }

    const std::uint32_t boundary = carrier_boundary(controls, end, sender.end_cycles);
    if (boundary < event_cycles) {
      return fail(message::SEND_CONTROL_ORDER);
    }
    std::uint32_t available = boundary - event_cycles;
    // A pair that follows needs an even index: leave it one payload word in between, which a
    // one-word send can use to restore the parity.
    const std::size_t words_after_carrier = words.size() + group.size();
    if (pair_follows(controls, end) && words_after_carrier % 2 == 1 && available > 1) {
      available -= 1;
    }
    const std::uint32_t chunk = std::min({available, CARRIER_WORDS, remaining});
    if (chunk == 0) {
      return fail(message::EMPTY_RECEIVE_CONTROL_CONTINUATION);
    }
    if (group.size() == 1) {
      const auto carrier = encode_send_control(chunk - 1, group.front());
      if (!carrier) {
        return std::unexpected(carrier.error());
      }
      words.push_back(*carrier);
    } else {
      // A SENDPICP restates the address of its own first payload word.
      const std::uint64_t source = std::uint64_t{initial_source} + sent;
      if (source > std::numeric_limits<std::uint32_t>::max()) {
        return fail(message::SENDPICP_SOURCE_OVERFLOW);
      }
      const auto carrier =
          encode_send_control_pair(chunk - 1, static_cast<std::uint32_t>(source), direction, group);
      if (!carrier) {
        return std::unexpected(carrier.error());
      }
      words.push_back(carrier->first);
      words.push_back(carrier->payload);
    }
    event_cycles += chunk;
    remaining -= chunk;
    sent += chunk;
    cursor = end;
  }

  if (!started) {
    const std::uint32_t first = std::min(remaining, FIRST_SEND_WORDS);
    const auto send = resize_send(initial, first);
    if (!send) {
      return std::unexpected(send.error());
    }
    words.push_back(*send);
    event_cycles += first;
    remaining -= first;
  }
  while (remaining != 0) {
    const std::uint32_t chunk = std::min(remaining, SEND_OFF_WORDS);
    words.push_back(send_off(chunk - 1, direction, 0));
    event_cycles += chunk;
    remaining -= chunk;
  }
  // The re-encoded message sends one word per cycle from its start: a row whose payload sends
  // are not back to back cannot be re-encoded.
  if (event_cycles != sender.end_cycles) {
    return fail(message::SENDER_PAYLOAD_HORIZON);
  }
  return {};
}

Status emit_sender_words(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                         std::uint32_t initial_instruction, std::uint32_t direction,
                         std::uint32_t& remaining, std::uint32_t& sent, bool& started,
                         std::uint32_t count, std::optional<std::uint32_t> final_word_parity) {
  const auto parity_is_wrong = [&](std::size_t length) {
    return final_word_parity && length % 2 != *final_word_parity;
  };
  if (count > remaining) {
    return fail(message::SENDER_PAYLOAD_OVERFLOW);
  }
  if (count == 0) {
    // A message cannot begin with a carrier: its first instruction is the SEND that states
    // address and direction.
    if (!started) {
      return fail(message::UNENCODABLE_INITIAL_SEND_CONTROL);
    }
    if (parity_is_wrong(words.size())) {
      return fail(message::SENDPICP_INSTRUCTION_ALIGNMENT);
    }
    return {};
  }
  std::vector<std::uint32_t> chunks = payload_chunks(count, started);
  if (parity_is_wrong(words.size() + chunks.size()) && !split_for_parity(chunks)) {
    return fail(message::SENDPICP_INSTRUCTION_ALIGNMENT);
  }
  for (const std::uint32_t chunk : chunks) {
    if (!started) {
      const auto send = resize_send(initial_instruction, chunk);
      if (!send) {
        return std::unexpected(send.error());
      }
      words.push_back(*send);
      started = true;
    } else {
      words.push_back(send_off(chunk - 1, direction, 0));
    }
    event_cycles += chunk;
    remaining -= chunk;
    sent += chunk;
  }
  if (parity_is_wrong(words.size())) {
    return fail(message::SENDPICP_INSTRUCTION_ALIGNMENT);
  }
  return {};
}

Result<std::uint32_t> encode_send_control(std::uint32_t count_minus_one,
                                          const ReceiveEvent& event) {
  if (count_minus_one > MAXIMUM_COUNT_MINUS_ONE) {
    return fail(message::SENDPIC_COUNT);
  }
  const std::uint32_t selector =
      is_pic(event.kind) ? 2 + pic_selector(event.instruction) : paired_flag(event.instruction);
  const std::uint32_t operand =
      is_pic(event.kind) ? event.instruction & PIC_VALUE_MASK : event.instruction & MUX_VALUE_MASK;
  return SEND_CONTROL_BASE | (count_minus_one << 21) | (selector << 18) | operand;
}

Result<SendControlPair> encode_send_control_pair(std::uint32_t count_minus_one,
                                                 std::uint32_t source_word_address,
                                                 std::uint32_t send_control,
                                                 std::span<const ReceiveEvent> events) {
  if (count_minus_one > MAXIMUM_COUNT_MINUS_ONE ||
      source_word_address > MAXIMUM_SOURCE_WORD_ADDRESS || send_control > MAXIMUM_SEND_CONTROL ||
      events.size() != 2) {
    return fail(message::SENDPICP_OPERAND);
  }
  const auto pic = std::ranges::find_if(events, [](const auto& e) { return is_pic(e.kind); });
  if (pic == events.end()) {
    return fail(message::SENDPICP_PIC_CONTROL);
  }
  const auto xpic = std::ranges::find_if(events, [](const auto& e) { return is_xpic(e.kind); });
  if (xpic == events.end()) {
    return fail(message::SENDPICP_XPIC_CONTROL);
  }
  if (pic->cycles != xpic->cycles) {
    return fail(message::SENDPICP_EVENT_TIME);
  }
  return SendControlPair{
      .first = SEND_CONTROL_PAIR_BASE | (pic_selector(pic->instruction) << 27) |
               (count_minus_one << 21) | (source_word_address << 3) | send_control,
      .payload =
          ((xpic->instruction & XPIC_CONTROL_MASK) << 18) | (pic->instruction & PIC_VALUE_MASK),
  };
}

}  // namespace vantle_exchange
