#pragma once

// Exchange plans: the nine-word rows of single transfers, and the operations that complete and
// adjust rows after they are built (addresses, the point receiver's mux, delays, measuring).
//
// An executable row is the row entry word, timed words, the return word and zeros up to nine.
// A point receiver row carries a patch index in word 0 in front of eight words of an executable
// row. The plans are built on a `Topology` (topology.hpp).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "vantle_exchange/error.hpp"

namespace vantle_exchange {

using Row = std::array<std::uint32_t, 9>;

/// A point-to-point transfer: the sender row and the receiver row in point receiver row form,
/// whose mux word waits for `finalize_point_receiver`.
struct Plan {
  Row sender;
  Row receiver;

  friend bool operator==(const Plan&, const Plan&) = default;
};

/// A multicast transfer: one sender row and one executable receiver row per receiver, in the
/// order the receivers were given.
struct MulticastPlan {
  Row sender;
  std::vector<Row> receivers;

  friend bool operator==(const MulticastPlan&, const MulticastPlan&) = default;
};

/// Writes a source byte address into one SEND word or address-carrying SENDPICP first word.
/// The address counts 4-byte words, or 8-byte units when bit 2 of the send control marks a
/// 64-bit send. Fails with `Address(byte_address)` on any other word, a misaligned address or
/// one beyond 18 bits of units; the word changes only on success.
Status patch_sender_instruction(std::uint32_t& instruction, std::uint32_t byte_address);

/// Writes the source address into the first SEND word of `row`; later sends are left alone, and
/// so is the payload word of a SENDPICP pair, whatever it looks like.
/// Fails with `Address(byte_address)` when the row has no SEND word or the address does not fit.
Status patch_sender_address(Row& row, std::uint32_t byte_address);

/// Writes the destination address into the first receive pointer of `row` (a PIC delay with
/// selector 0, or the payload of a pointer-carrying SENDPICP pair). Fails with
/// `Address(byte_address)` on an address not a multiple of 4 or from 0x100000 up, or a row with
/// no pointer, and with "truncated SENDPICP payload" when a pointer pair has no payload word.
Status patch_receiver_address(Row& row, std::uint32_t byte_address);

/// The executable row of a point receiver row, with the sender's physical id in the mux word
/// that the patch index names. Fails with "point receiver patch index" when the index is 8 or
/// more or `source_physical` does not fit 13 bits.
Result<Row> finalize_point_receiver(const Row& row, std::uint16_t source_physical);

/// Delays everything `row` does by `cycles` by inserting delay words after the entry word, into
/// the zero words after the return word. Fails with "plan offset entry", "plan offset return"
/// or `PlanOffsetRange` when the row cannot take the delay; the row changes only on success.
Status offset_plan(Row& row, std::uint32_t cycles);

/// Rewrites the send control (bits 2..0) of every payload send of a sender row: SEND, SENDOFF,
/// and SENDPICP first words that carry a send. Bit 2 marks a 64-bit send. Fails with "send
/// control" outside 1 to 7 and with "sender payload" when the row sends nothing.
Status set_sender_control(Row& row, std::uint8_t send_control);

/// The length of a word sequence in cycles, its event horizon: the sum of the advances of every
/// word, the payload word of each SENDPICP pair skipped. Fails with "plan event horizon
/// overflow" beyond 32 bits.
Result<std::uint32_t> plan_event_cycles(std::span<const std::uint32_t> row);

/// A copy of `row` with every address field that the patch operations write set to 0, so that
/// programs which differ only in their addresses compare equal.
std::vector<std::uint32_t> normalized_exchange_address_words(std::span<const std::uint32_t> row);

}  // namespace vantle_exchange
