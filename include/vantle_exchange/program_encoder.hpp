#pragma once

// The scheduled program encoder: turns one tile's timeline (its placed sender rows, its receive
// controls and its horizon) into the tile's straight-line program for the phase.
//
// Outside outgoing messages each receive control is delivered by a re-timed PIC or XPIC delay,
// or, for a PIC and an XPIC control on one cycle, by an idle SENDPICP pair; plain delays fill
// the gaps. Inside a message the payload is re-encoded as a SEND and SENDOFFs, and each control
// is fused into the send stream: a SENDPIC or SENDPICP takes over the next payload words so that
// its control lands one cycle after it issues. Every SENDPICP pair of a program starts at an
// even word index, where its two words form one aligned 64-bit instruction.
//
// The `append_` steps extend a program under construction (`words`) and advance `event_cycles`,
// the issue cycle of the next word. When a step fails, what it appended is unspecified: callers
// discard the whole program.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/plan.hpp"
#include "vantle_exchange/row_timing.hpp"

namespace vantle_exchange {

/// A sender row placed on a tile's timeline, with its payload interval [start, end).
struct ScheduledSenderRow {
  Row row;
  std::uint32_t start_cycles;
  std::uint32_t end_cycles;

  friend bool operator==(const ScheduledSenderRow&, const ScheduledSenderRow&) = default;
};

/// The initial SEND word of a sender row and the length of its whole payload.
struct SenderPayload {
  std::uint32_t initial_instruction;
  std::uint32_t words;

  friend bool operator==(const SenderPayload&, const SenderPayload&) = default;
};

/// The two words of a SENDPICP pair.
struct SendControlPair {
  std::uint32_t first;
  std::uint32_t payload;

  friend bool operator==(const SendControlPair&, const SendControlPair&) = default;
};

/// The tile's program: every control and message on its cycle, then the return word exactly at
/// `horizon_cycles`.
Result<std::vector<std::uint32_t>> build_scheduled_program(
    std::span<const ScheduledSenderRow> senders, std::span<const ReceiveEvent> receive_events,
    std::uint32_t horizon_cycles);

/// Delivers `events` (sorted by cycle) outside any message and fills the time up to
/// `horizon_cycles`. With `align_control_pairs`, each SENDPICP pair starts at an even index.
Status append_receive_events(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                             std::span<const ReceiveEvent> events, std::uint32_t horizon_cycles,
                             bool align_control_pairs);

/// Emits one outgoing message from its start cycle, with `controls` (the receive controls that
/// fall inside it, sorted by cycle) fused into its sends.
Status append_sender_message(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                             const ScheduledSenderRow& sender,
                             std::span<const ReceiveEvent> controls);

/// Sends `count` plain payload words: the first SEND of the message while `started` is false,
/// SENDOFFs after. With `final_word_parity`, one chunk is split when needed so that the program
/// length ends with that parity, ready for a SENDPICP pair.
Status emit_sender_words(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                         std::uint32_t initial_instruction, std::uint32_t direction,
                         std::uint32_t& remaining, std::uint32_t& sent, bool& started,
                         std::uint32_t count, std::optional<std::uint32_t> final_word_parity);

/// The row's only SEND word and the payload length of the SEND and its SENDOFFs. Fails with
/// "multiple initial sends", "sender payload overflow", "sender payload", and with "send
/// control" when the SEND has send control 0 (no route: the message would go nowhere).
Result<SenderPayload> sender_payload(const Row& row);

/// SENDPIC: sends `count_minus_one` + 1 words and carries one control.
///
///   31   27 26        21 20 19  18 17                0
///  +-------+------------+--+------+-------------------+
///  | 01110 | count - 1  | 1| sel  |     operand       |
///  +-------+------------+--+------+-------------------+
///
/// An XPIC control has selector 0 or 1 (its paired flag) and the mux value as operand; a PIC
/// control has selector 2 (pointer) or 3 (format) and the PIC value. Fails with "SENDPIC count".
Result<std::uint32_t> encode_send_control(std::uint32_t count_minus_one, const ReceiveEvent& event);

/// SENDPICP: sends `count_minus_one` + 1 words from `source_word_address` and carries one PIC
/// and one XPIC control on the same cycle, given in either order.
///
///   first:   31  28 27  26       21 20                3 2    0
///           +------+---+-----------+-------------------+------+
///           | 1111 |sel| count - 1 | source_word_addr  | ctrl |
///           +------+---+-----------+-------------------+------+
///   payload: 31 30              18 17                0
///           +--+------------------+-------------------+
///           |p |    mux value     |    PIC value      |
///           +--+------------------+-------------------+
Result<SendControlPair> encode_send_control_pair(std::uint32_t count_minus_one,
                                                 std::uint32_t source_word_address,
                                                 std::uint32_t send_control,
                                                 std::span<const ReceiveEvent> events);

/// Plain delays from `event_cycles` up to `target_cycles`; fails with "plan delay order" when
/// the target lies behind.
Status append_plain_delay(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                          std::uint32_t target_cycles);

/// Plain delays up to `target_cycles` after which the program length has parity `word_parity`;
/// fails with "SENDPICP instruction alignment" when the time is too short for that.
Status append_plain_delay_aligned(std::vector<std::uint32_t>& words, std::uint32_t& event_cycles,
                                  std::uint32_t target_cycles, std::uint32_t word_parity);

}  // namespace vantle_exchange
