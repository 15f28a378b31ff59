#pragma once

// Row timing analysis: what a sender or receiver row does on the exchange, cycle by cycle, and
// where its data and receive controls land once the row is placed at a schedule offset.
//
// A receiving tile is driven by two incoming-control streams. The XPIC stream selects the
// sending tile on the receive mux (TILE_MUX_EXCHANGE tears the selection down); the PIC stream
// sets the receive pointer or brackets a paired 64-bit receive. A control written by a PIC or
// XPIC delay takes effect when the delay runs out; one carried by a SENDPICP pair takes effect
// one cycle after the pair issues.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <vector>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/plan.hpp"

namespace vantle_exchange {

enum class ReceiveEventKind : std::uint8_t {
  OrdinarySource = 0,   // XPIC: the mux selects the sender
  OrdinaryNeutral = 1,  // XPIC: the mux selection is torn down
  PairedSource = 2,     // XPIC: the mux selects the sender of a paired 64-bit receive
  PairedNeutral = 3,    // XPIC: the paired selection is torn down
  Pointer = 4,          // PIC: the receive pointer is set
  Format = 5,           // PIC: a paired receive starts (value 1 or 2) or ends (value 0)
};

/// Pointer and Format controls travel on the PIC stream.
constexpr bool is_pic(ReceiveEventKind kind) {
  return kind == ReceiveEventKind::Pointer || kind == ReceiveEventKind::Format;
}

/// The four mux controls travel on the XPIC stream.
constexpr bool is_xpic(ReceiveEventKind kind) {
  return !is_pic(kind);
}

std::ostream& operator<<(std::ostream& out, ReceiveEventKind kind);

/// One receive control and the cycle at which it takes effect. `instruction` is the PIC or XPIC
/// delay word that carries it; a control that came out of a SENDPICP pair is given as the
/// equivalent zero-delay word, so all controls of one kind look alike.
struct ReceiveEvent {
  std::uint32_t cycles;
  std::uint32_t instruction;
  ReceiveEventKind kind;

  friend bool operator==(const ReceiveEvent&, const ReceiveEvent&) = default;
};

std::ostream& operator<<(std::ostream& out, const ReceiveEvent& event);

enum class ReceiveMode : std::uint8_t { Ordinary = 0, Paired64 = 1 };

std::ostream& operator<<(std::ostream& out, ReceiveMode mode);

/// When a sender row sends: its first payload send issues at `start_cycles`, its last has
/// finished at `end_cycles`, and the row is over at `horizon_cycles`.
struct SenderRowTiming {
  std::uint32_t start_cycles;
  std::uint32_t end_cycles;
  std::uint32_t horizon_cycles;

  friend bool operator==(const SenderRowTiming&, const SenderRowTiming&) = default;
};

/// What a receiver row does: its controls in row order, the cycle of each role and the byte
/// address its pointer control sets.
struct ReceiveRowTiming {
  ReceiveMode mode;
  std::vector<ReceiveEvent> events;
  std::optional<std::uint32_t> neutral_cycles;
  std::optional<std::uint32_t> source_cycles;
  std::optional<std::uint32_t> format_start_cycles;
  std::optional<std::uint32_t> format_end_cycles;
  std::optional<std::uint32_t> pointer_cycles;
  std::uint32_t horizon_cycles;
  std::optional<std::uint32_t> pointer_address;

  friend bool operator==(const ReceiveRowTiming&, const ReceiveRowTiming&) = default;
};

/// A sender row's payload interval and horizon on the tile timeline.
struct ScheduledSenderTiming {
  std::uint32_t payload_start;
  std::uint32_t payload_end;
  std::uint32_t horizon;

  friend bool operator==(const ScheduledSenderTiming&, const ScheduledSenderTiming&) = default;
};

/// A receiver row placed at an offset for a number of received words: the controls it emits,
/// sorted by cycle, the interval the mux is committed to the transfer, the interval the words
/// are written to memory, and the cycle after which the window no longer occupies the tile.
struct ScheduledReceiverWindow {
  std::vector<ReceiveEvent> events;
  std::uint32_t source_start;
  std::uint32_t source_end;
  std::uint32_t payload_start;
  std::uint32_t payload_end;
  std::uint32_t horizon;
  std::optional<std::uint32_t> pointer_address;

  friend bool operator==(const ScheduledReceiverWindow&, const ScheduledReceiverWindow&) = default;
};

/// The receive stream left open on a tile by its last placed receiver row: where it would write
/// its next word, when its mux is released and when its last word has been written.
struct ReceiveStream {
  std::optional<std::uint32_t> next_address;
  std::uint32_t source_end_cycles;
  std::uint32_t pointer_end_cycles;
  ReceiveMode mode;

  friend bool operator==(const ReceiveStream&, const ReceiveStream&) = default;
};

/// Walks a sender row from `schedule_offset`. Fails with "sender row entry", "sender row
/// return", "sender event horizon overflow" or "sender payload" (no payload send).
Result<SenderRowTiming> sender_row_timing(const Row& row, std::uint32_t schedule_offset);

/// Walks a receiver row from `schedule_offset` into its controls and their roles.
Result<ReceiveRowTiming> receive_row_timing(const Row& row, std::uint32_t schedule_offset);

/// `base` with every cycle moved by `offset`; fails with "receive offset overflow".
Result<ReceiveRowTiming> receive_row_timing_from_base(const ReceiveRowTiming& base,
                                                      std::uint32_t offset);

/// The payload interval and horizon of a sender row placed at `schedule_offset`.
Result<ScheduledSenderTiming> scheduled_sender_timing(const Row& row,
                                                      std::uint32_t schedule_offset);

/// A receiver row, walked at offset 0 into `base`, placed at `schedule_offset` to take
/// `received_words` words. `previous` is the stream still open on the tile: a receive that
/// continues it at its next address does not set the pointer again.
Result<ScheduledReceiverWindow> scheduled_receive_window(
    const ReceiveRowTiming& base, std::uint32_t schedule_offset, std::uint32_t received_words,
    const std::optional<ReceiveStream>& previous);

/// Accepts events sorted by cycle when every cycle holds one event, or one PIC and one XPIC
/// control (one SENDPICP pair carries both); else fails with "incompatible simultaneous receive
/// controls".
Status validate_receive_events(std::span<const ReceiveEvent> events);

/// Whether one instruction can deliver both controls: same cycle, one PIC and one XPIC.
bool receive_events_can_share_instruction(const ReceiveEvent& left, const ReceiveEvent& right);

}  // namespace vantle_exchange
