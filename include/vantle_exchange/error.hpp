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
    HOST_TARGET_OPERATION_RETURN,
    LOCAL_HOST_OPERATION_RETURN,
    LOCAL_HOST_OPERATION_PREFIX,
};

}  // namespace message

/// Whether `text` is one of the fixed texts in `message::ALL`.
bool is_documented_message(std::string_view text);

}  // namespace vantle_exchange
