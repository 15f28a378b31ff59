#pragma once

// The library's one error type and the result aliases every fallible operation returns.

#include <cstdint>
#include <expected>
#include <iosfwd>
#include <string>
#include <string_view>

namespace vantle_exchange {

/// What went wrong, as a small value: a variant tag and its payload.
///
/// Building an error never allocates, so search loops that fail and retry stay cheap. A
/// `Schedule` error holds a view of one of the fixed texts in `message`; its text must outlive
/// the error, which the constants there do.
class ExchangeError {
 public:
  enum class Kind : std::uint8_t {
    Tile,
    DuplicateTile,
    Count,
    ReceiverSet,
    Schedule,
    PlanOffsetRange,
    Address,
    HostPacket,
  };

  /// A logical tile id not below the tile count.
  static constexpr ExchangeError tile(std::uint16_t logical) { return {Kind::Tile, logical}; }
  /// Sender and receiver are the same tile, or a tile is named twice.
  static constexpr ExchangeError duplicate_tile() { return {Kind::DuplicateTile, 0}; }
  /// A word count outside the range a plan takes.
  static constexpr ExchangeError count(std::uint32_t count) { return {Kind::Count, count}; }
  /// An invalid receiver list.
  static constexpr ExchangeError receiver_set() { return {Kind::ReceiverSet, 0}; }
  /// Every other failure; `message` is one of the fixed texts of `vantle_exchange::message`.
  static constexpr ExchangeError schedule(std::string_view message) {
    ExchangeError error{Kind::Schedule, 0};
    error.message_ = message;
    return error;
  }
  /// A row cannot take `cycles` of delay; it could take at most `maximum`.
  static constexpr ExchangeError plan_offset_range(std::uint32_t cycles, std::uint32_t maximum) {
    ExchangeError error{Kind::PlanOffsetRange, cycles};
    error.maximum_ = maximum;
    return error;
  }
  /// A byte address that the word cannot hold, or a row without the word to patch.
  static constexpr ExchangeError address(std::uint32_t byte_address) {
    return {Kind::Address, byte_address};
  }
  /// A host packet or host transfer that cannot be built.
  static constexpr ExchangeError host_packet() { return {Kind::HostPacket, 0}; }

  constexpr Kind kind() const { return kind_; }

  /// The logical tile id of a `Tile` error.
  constexpr std::uint16_t logical() const { return static_cast<std::uint16_t>(value_); }
  /// The payload of `Tile`, `Count` and `Address` errors, and the cycles of `PlanOffsetRange`.
  constexpr std::uint32_t value() const { return value_; }
  /// The fixed text of a `Schedule` error; empty for every other variant.
  constexpr std::string_view message() const { return message_; }
  /// The requested delay of a `PlanOffsetRange` error.
  constexpr std::uint32_t cycles() const { return value_; }
  /// The largest delay the row could take, of a `PlanOffsetRange` error.
  constexpr std::uint32_t maximum() const { return maximum_; }

  friend constexpr bool operator==(const ExchangeError&, const ExchangeError&) = default;

 private:
  constexpr ExchangeError(Kind kind, std::uint32_t value) : kind_(kind), value_(value) {}

  Kind kind_;
  std::uint32_t value_;
  std::uint32_t maximum_ = 0;
  std::string_view message_;
};

/// The name of a variant: "Tile", "PlanOffsetRange", ...
std::string_view to_string(ExchangeError::Kind kind);

/// The debug text: `Tile(1472)`, `DuplicateTile`, `Schedule("sender delay")`,
/// `PlanOffsetRange { cycles: 2097153, maximum: 2097152 }`.
std::string to_string(const ExchangeError& error);

std::ostream& operator<<(std::ostream& out, ExchangeError::Kind kind);
std::ostream& operator<<(std::ostream& out, const ExchangeError& error);

template <class T>
using Result = std::expected<T, ExchangeError>;
using Status = std::expected<void, ExchangeError>;

/// The fixed texts of `ExchangeError::Schedule`, each spelled once.
namespace message {

// Instruction encoders and the cycle model.
inline constexpr std::string_view SEND_INSTRUCTION_OPERAND = "send instruction operand";
inline constexpr std::string_view INITIAL_SEND_SIZE = "initial send size";
inline constexpr std::string_view SETZI_OPERAND = "setzi operand";
inline constexpr std::string_view PUT_SOURCE_REGISTER = "put source register";
inline constexpr std::string_view BRANCH_REGISTER = "branch register";
inline constexpr std::string_view CALL_OPERAND = "call operand";
inline constexpr std::string_view BRZ_OPERAND = "brz operand";
inline constexpr std::string_view LD32_OPERAND = "ld32 operand";
inline constexpr std::string_view ST32_OPERAND = "st32 operand";
inline constexpr std::string_view ADD_IMMEDIATE_OPERAND = "add immediate operand";
inline constexpr std::string_view ADD_REGISTER_OPERAND = "add register operand";
inline constexpr std::string_view AND_OPERAND = "and operand";
inline constexpr std::string_view SHIFT_LEFT_OPERAND = "shift-left operand";
inline constexpr std::string_view ZERO_EVENT_ADVANCE = "zero event advance";
inline constexpr std::string_view DELAY_ADVANCE_OVERFLOW = "delay advance overflow";
inline constexpr std::string_view PIC_DELAY_ADVANCE_OVERFLOW = "PIC delay advance overflow";
inline constexpr std::string_view XPIC_DELAY_ADVANCE_OVERFLOW = "XPIC delay advance overflow";
inline constexpr std::string_view SCHEDULED_OFFSET_TRUNCATES_A_SEND =
    "scheduled offset truncates a send";
inline constexpr std::string_view FIRST_SCHEDULED_EVENT_IS_NOT_A_DELAY =
    "first scheduled event is not a delay";

// Plans, their patching and offsets.
inline constexpr std::string_view SENDER_DELAY = "sender delay";
inline constexpr std::string_view MULTICAST_START_CYCLE = "multicast start cycle";
inline constexpr std::string_view MULTICAST_RECEIVE_CYCLE = "multicast receive cycle";
inline constexpr std::string_view TRUNCATED_SENDPICP_PAYLOAD = "truncated SENDPICP payload";
inline constexpr std::string_view POINT_RECEIVER_PATCH_INDEX = "point receiver patch index";
inline constexpr std::string_view PLAN_OFFSET_ENTRY = "plan offset entry";
inline constexpr std::string_view PLAN_OFFSET_RETURN = "plan offset return";
inline constexpr std::string_view PLAN_EVENT_HORIZON_OVERFLOW = "plan event horizon overflow";

// Row timing analysis.
inline constexpr std::string_view SENDER_ROW_ENTRY = "sender row entry";
inline constexpr std::string_view SENDER_ROW_RETURN = "sender row return";
inline constexpr std::string_view SENDER_EVENT_HORIZON_OVERFLOW = "sender event horizon overflow";
inline constexpr std::string_view SENDER_PAYLOAD = "sender payload";
inline constexpr std::string_view RECEIVE_ROW_ENTRY = "receive row entry";
inline constexpr std::string_view RECEIVE_ROW_RETURN = "receive row return";
inline constexpr std::string_view RECEIVE_EVENT_HORIZON_OVERFLOW = "receive event horizon overflow";
inline constexpr std::string_view MULTIPLE_RECEIVE_TEARDOWNS = "multiple receive teardowns";
inline constexpr std::string_view MULTIPLE_RECEIVE_POINTERS = "multiple receive pointers";
inline constexpr std::string_view MULTIPLE_PAIRED_FORMAT_STARTS = "multiple paired format starts";
inline constexpr std::string_view PAIRED_RECEIVE_FORMAT_VALUE = "paired receive format value";
inline constexpr std::string_view MULTIPLE_PAIRED_FORMAT_ENDS = "multiple paired format ends";
inline constexpr std::string_view MULTIPLE_RECEIVE_SOURCES = "multiple receive sources";
inline constexpr std::string_view INCOMPLETE_ORDINARY_RECEIVE_MUX =
    "incomplete ordinary receive mux";
inline constexpr std::string_view INCOMPLETE_PAIRED_RECEIVE_FORMAT =
    "incomplete paired receive format";
inline constexpr std::string_view RECEIVE_OFFSET_OVERFLOW = "receive offset overflow";
inline constexpr std::string_view PAIRED_RECEIVE_FORMAT_START = "paired receive format start";
inline constexpr std::string_view PAIRED_RECEIVE_FORMAT_END = "paired receive format end";
inline constexpr std::string_view RECEIVE_SOURCE_TIMING = "receive source timing";
inline constexpr std::string_view RECEIVE_SOURCE_TIMING_OVERFLOW = "receive source timing overflow";
inline constexpr std::string_view RECEIVE_POINTER_EVENT = "receive pointer event";
inline constexpr std::string_view RECEIVE_PAYLOAD_TIMING_OVERFLOW =
    "receive payload timing overflow";
inline constexpr std::string_view RECEIVE_HORIZON_OVERFLOW = "receive horizon overflow";
inline constexpr std::string_view INCOMPATIBLE_SIMULTANEOUS_RECEIVE_CONTROLS =
    "incompatible simultaneous receive controls";

// Tile program schedules.
inline constexpr std::string_view SEND_OFFSET_OVERFLOW = "send offset overflow";
inline constexpr std::string_view SEND_OFFSET_ORDER = "send offset order";
inline constexpr std::string_view OVERLAPPING_OUTGOING_MESSAGES = "overlapping outgoing messages";
inline constexpr std::string_view UNENCODABLE_INITIAL_SEND_CONTROL =
    "unencodable initial send control";
inline constexpr std::string_view RECEIVE_ADDRESS_OVERFLOW = "receive address overflow";
inline constexpr std::string_view OVERLAPPING_RECEIVE_STREAMS = "overlapping receive streams";

// The scheduled program encoder.
inline constexpr std::string_view RECEIVE_CONTROL_AT_PHASE_ENTRY = "receive control at phase entry";
inline constexpr std::string_view RECEIVE_CONTROL_ORDER = "receive control order";
inline constexpr std::string_view EMPTY_SENDPICP_INTERVAL = "empty SENDPICP interval";
inline constexpr std::string_view RECEIVE_EVENT_ORDER = "receive event order";
inline constexpr std::string_view RECEIVE_CONTROL_ISSUE_INTERVAL = "receive control issue interval";
inline constexpr std::string_view RECEIVE_TIMED_EVENT = "receive timed event";
inline constexpr std::string_view PLAN_DELAY_ORDER = "plan delay order";
inline constexpr std::string_view SENDPICP_INSTRUCTION_ALIGNMENT = "SENDPICP instruction alignment";
inline constexpr std::string_view MULTIPLE_INITIAL_SENDS = "multiple initial sends";
inline constexpr std::string_view SENDER_PAYLOAD_OVERFLOW = "sender payload overflow";
inline constexpr std::string_view SEND_CONTROL_AT_PHASE_ENTRY = "send control at phase entry";
inline constexpr std::string_view SEND_CONTROL_ORDER = "send control order";
inline constexpr std::string_view SEND_CONTROL_BEYOND_PAYLOAD = "send control beyond payload";
inline constexpr std::string_view EMPTY_RECEIVE_CONTROL_CONTINUATION =
    "empty receive-control continuation";
inline constexpr std::string_view SENDPICP_SOURCE_OVERFLOW = "SENDPICP source overflow";
inline constexpr std::string_view SENDER_PAYLOAD_HORIZON = "sender payload horizon";
inline constexpr std::string_view SENDPIC_COUNT = "SENDPIC count";
inline constexpr std::string_view SENDPICP_OPERAND = "SENDPICP operand";
inline constexpr std::string_view SENDPICP_PIC_CONTROL = "SENDPICP PIC control";
inline constexpr std::string_view SENDPICP_XPIC_CONTROL = "SENDPICP XPIC control";
inline constexpr std::string_view SENDPICP_EVENT_TIME = "SENDPICP event time";

// Program diagnostics.
inline constexpr std::string_view DECODE_OFFSET_OUT_OF_RANGE = "decode offset out of range";
inline constexpr std::string_view DIAGNOSTIC_EVENT_HORIZON_OVERFLOW =
    "diagnostic event horizon overflow";
inline constexpr std::string_view DIAGNOSTIC_ROW_ADDRESS_OVERFLOW =
    "diagnostic row address overflow";
inline constexpr std::string_view ENCODED_TILE_HORIZON_MISMATCH = "encoded tile horizon mismatch";
inline constexpr std::string_view UNKNOWN_ENCODED_EXCHANGE_INSTRUCTION =
    "unknown encoded exchange instruction";
inline constexpr std::string_view ENCODED_INCOMING_CONTROL_MISMATCH =
    "encoded incoming-control mismatch";
inline constexpr std::string_view ENCODED_SENDER_INTERVAL_MISMATCH =
    "encoded sender interval mismatch";
inline constexpr std::string_view UNEXPECTED_ENCODED_OUTGOING_INTERVAL =
    "unexpected encoded outgoing interval";

// The phase program builder.
inline constexpr std::string_view RECEIVER_ROW_COUNT = "receiver row count";

// Paired 64-bit plans.
inline constexpr std::string_view PAIRED_SOURCE_TIMING = "paired source timing";
inline constexpr std::string_view PAIRED_RECEIVE_COINCIDENT_CONTROLS =
    "paired receive coincident controls";
inline constexpr std::string_view PAIRED_RECEIVE_HORIZON_OVERFLOW =
    "paired receive horizon overflow";
inline constexpr std::string_view PAIRED_RECEIVE_ROW_CAPACITY = "paired receive row capacity";
inline constexpr std::string_view SEND_CONTROL = "send control";
// Host programs.
inline constexpr std::string_view HOST_TARGET_OPERATION_RETURN = "host target operation return";
inline constexpr std::string_view LOCAL_HOST_OPERATION_RETURN = "local host operation return";
inline constexpr std::string_view LOCAL_HOST_OPERATION_PREFIX = "local host operation prefix";

/// Every text above, for tests and fuzzers that check an escaped error is a documented one.
inline constexpr std::string_view ALL[] = {
    SEND_INSTRUCTION_OPERAND,
    INITIAL_SEND_SIZE,
    SETZI_OPERAND,
    PUT_SOURCE_REGISTER,
    BRANCH_REGISTER,
    CALL_OPERAND,
    BRZ_OPERAND,
    LD32_OPERAND,
    ST32_OPERAND,
    ADD_IMMEDIATE_OPERAND,
    ADD_REGISTER_OPERAND,
    AND_OPERAND,
    SHIFT_LEFT_OPERAND,
    ZERO_EVENT_ADVANCE,
    DELAY_ADVANCE_OVERFLOW,
    PIC_DELAY_ADVANCE_OVERFLOW,
    XPIC_DELAY_ADVANCE_OVERFLOW,
    SCHEDULED_OFFSET_TRUNCATES_A_SEND,
    FIRST_SCHEDULED_EVENT_IS_NOT_A_DELAY,
    SENDER_DELAY,
    MULTICAST_START_CYCLE,
    MULTICAST_RECEIVE_CYCLE,
    TRUNCATED_SENDPICP_PAYLOAD,
    POINT_RECEIVER_PATCH_INDEX,
    PLAN_OFFSET_ENTRY,
    PLAN_OFFSET_RETURN,
    PLAN_EVENT_HORIZON_OVERFLOW,
    SENDER_ROW_ENTRY,
    SENDER_ROW_RETURN,
    SENDER_EVENT_HORIZON_OVERFLOW,
    SENDER_PAYLOAD,
    RECEIVE_ROW_ENTRY,
    RECEIVE_ROW_RETURN,
    RECEIVE_EVENT_HORIZON_OVERFLOW,
    MULTIPLE_RECEIVE_TEARDOWNS,
    MULTIPLE_RECEIVE_POINTERS,
    MULTIPLE_PAIRED_FORMAT_STARTS,
    PAIRED_RECEIVE_FORMAT_VALUE,
    MULTIPLE_PAIRED_FORMAT_ENDS,
    MULTIPLE_RECEIVE_SOURCES,
    INCOMPLETE_ORDINARY_RECEIVE_MUX,
    INCOMPLETE_PAIRED_RECEIVE_FORMAT,
    RECEIVE_OFFSET_OVERFLOW,
    PAIRED_RECEIVE_FORMAT_START,
    PAIRED_RECEIVE_FORMAT_END,
    RECEIVE_SOURCE_TIMING,
    RECEIVE_SOURCE_TIMING_OVERFLOW,
    RECEIVE_POINTER_EVENT,
    RECEIVE_PAYLOAD_TIMING_OVERFLOW,
    RECEIVE_HORIZON_OVERFLOW,
    INCOMPATIBLE_SIMULTANEOUS_RECEIVE_CONTROLS,
    SEND_OFFSET_OVERFLOW,
    SEND_OFFSET_ORDER,
    OVERLAPPING_OUTGOING_MESSAGES,
    UNENCODABLE_INITIAL_SEND_CONTROL,
    RECEIVE_ADDRESS_OVERFLOW,
    OVERLAPPING_RECEIVE_STREAMS,
    RECEIVE_CONTROL_AT_PHASE_ENTRY,
    RECEIVE_CONTROL_ORDER,
    EMPTY_SENDPICP_INTERVAL,
    RECEIVE_EVENT_ORDER,
    RECEIVE_CONTROL_ISSUE_INTERVAL,
    RECEIVE_TIMED_EVENT,
    PLAN_DELAY_ORDER,
    SENDPICP_INSTRUCTION_ALIGNMENT,
    MULTIPLE_INITIAL_SENDS,
    SENDER_PAYLOAD_OVERFLOW,
    SEND_CONTROL_AT_PHASE_ENTRY,
    SEND_CONTROL_ORDER,
    SEND_CONTROL_BEYOND_PAYLOAD,
    EMPTY_RECEIVE_CONTROL_CONTINUATION,
    SENDPICP_SOURCE_OVERFLOW,
    SENDER_PAYLOAD_HORIZON,
    SENDPIC_COUNT,
    SENDPICP_OPERAND,
    SENDPICP_PIC_CONTROL,
    SENDPICP_XPIC_CONTROL,
    SENDPICP_EVENT_TIME,
    DECODE_OFFSET_OUT_OF_RANGE,
    DIAGNOSTIC_EVENT_HORIZON_OVERFLOW,
    DIAGNOSTIC_ROW_ADDRESS_OVERFLOW,
    ENCODED_TILE_HORIZON_MISMATCH,
    UNKNOWN_ENCODED_EXCHANGE_INSTRUCTION,
    ENCODED_INCOMING_CONTROL_MISMATCH,
    ENCODED_SENDER_INTERVAL_MISMATCH,
    UNEXPECTED_ENCODED_OUTGOING_INTERVAL,
    RECEIVER_ROW_COUNT,
    PAIRED_SOURCE_TIMING,
    PAIRED_RECEIVE_COINCIDENT_CONTROLS,
    PAIRED_RECEIVE_HORIZON_OVERFLOW,
    PAIRED_RECEIVE_ROW_CAPACITY,
    SEND_CONTROL,
    HOST_TARGET_OPERATION_RETURN,
    LOCAL_HOST_OPERATION_RETURN,
    LOCAL_HOST_OPERATION_PREFIX,
};

}  // namespace message

/// Whether `text` is one of the fixed texts in `message::ALL`.
bool is_documented_message(std::string_view text);

}  // namespace vantle_exchange
