#pragma once

// Program diagnostics: decoding exchange programs back into operations with their cycles and
// addresses, and checking an emitted tile program against the schedule it was built from.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "vantle_exchange/error.hpp"
#include "vantle_exchange/tile_schedule.hpp"

namespace vantle_exchange::diagnostic {

enum class IncomingControlStream : std::uint8_t { Pic = 0, Xpic = 1 };

/// One incoming control in the layout of its stream's delay word: for `Pic`, bit 18 selector
/// (0 pointer, 1 paired format) and bits 17..0 value; for `Xpic`, bit 13 paired flag and bits
/// 12..0 mux value.
struct IncomingControl {
  IncomingControlStream stream;
  std::uint32_t value;

  friend bool operator==(const IncomingControl&, const IncomingControl&) = default;
};

/// Which instruction form carried a send.
enum class SendEncoding : std::uint8_t {
  Explicit = 0,  // SEND
  Offset = 1,    // SENDOFF
  Pic = 2,       // SENDPIC, with one incoming control
  PicPair = 3,   // SENDPICP pair, with two
};

/// The incoming controls a send carries: none, one, or two (XPIC first). It holds at most two;
/// further ones are not kept.
class SendControls {
 public:
  static constexpr std::size_t CAPACITY = 2;

  SendControls() = default;
  SendControls(std::initializer_list<IncomingControl> controls) {
    for (const IncomingControl& control : controls) {
      push_back(control);
    }
  }

  void push_back(const IncomingControl& control) {
    if (size_ < CAPACITY) {
      items_[size_++] = control;
    }
  }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const IncomingControl& operator[](std::size_t i) const { return items_[i]; }
  const IncomingControl* begin() const { return items_.data(); }
  const IncomingControl* end() const { return items_.data() + size_; }

  friend bool operator==(const SendControls& a, const SendControls& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  std::array<IncomingControl, CAPACITY> items_{};
  std::size_t size_ = 0;
};

/// The operations an exchange word decodes to.
struct Delay {
  friend bool operator==(const Delay&, const Delay&) = default;
};
struct Send {
  SendEncoding encoding;
  std::uint32_t words;
  std::uint32_t raw_operand;
  std::optional<std::uint8_t> send_control;
  SendControls controls;

  friend bool operator==(const Send&, const Send&) = default;
};
struct Sync {
  std::uint8_t operand;
  friend bool operator==(const Sync&, const Sync&) = default;
};
struct Return {
  friend bool operator==(const Return&, const Return&) = default;
};
struct Unknown {
  std::uint32_t word;
  friend bool operator==(const Unknown&, const Unknown&) = default;
};
using PlanOperation = std::variant<Delay, IncomingControl, Send, Sync, Return, Unknown>;

/// One decoded word: what it does, how many cycles it occupies and how many words it takes.
struct DecodedOperation {
  PlanOperation operation;
  std::uint32_t advance;
  std::uint32_t width;

  friend bool operator==(const DecodedOperation&, const DecodedOperation&) = default;
};

struct DecodedPlanInstruction {
  std::uint32_t word_offset;
  std::optional<std::uint32_t> address;
  std::uint32_t start_cycle;
  std::uint32_t end_cycle;
  PlanOperation operation;

  friend bool operator==(const DecodedPlanInstruction&, const DecodedPlanInstruction&) = default;
};

struct PlanProgramDiagnostic {
  std::vector<DecodedPlanInstruction> instructions;
  std::uint32_t event_cycles;
  std::uint32_t row_words;

  friend bool operator==(const PlanProgramDiagnostic&, const PlanProgramDiagnostic&) = default;
};

/// Decodes the word at `offset`; a SENDPICP pair takes its payload word with it. Unknown words
/// are `Unknown`, never an error. Fails with "truncated SENDPICP payload" when a pair's payload
/// is missing, and with "decode offset out of range" when `offset` is past the words.
Result<DecodedOperation> decode_operation(std::span<const std::uint32_t> words, std::size_t offset);

/// Decodes every word, with issue intervals from cycle 0 and byte addresses from
/// `base_address` when given. Fails with "truncated SENDPICP payload", "diagnostic event horizon
/// overflow" or "diagnostic row address overflow".
Result<PlanProgramDiagnostic> diagnose_plan_program(std::span<const std::uint32_t> words,
                                                    std::optional<std::uint32_t> base_address);

/// The ordering key of controls: `Pic` before `Xpic`, then by value.
std::pair<std::uint8_t, std::uint32_t> control_key(const IncomingControl& control);

/// Checks that `words` delivers exactly the receive controls of `schedule`, on their cycles,
/// sends exactly its payload intervals and ends at its horizon. Returns the program's
/// diagnostic, or the first difference. On a control mismatch it first emits a debug event that
/// pinpoints the first difference; `tile` only labels that event.
Result<PlanProgramDiagnostic> validate_tile_program(std::size_t tile,
                                                    const TileProgramSchedule& schedule,
                                                    std::span<const std::uint32_t> words);

std::ostream& operator<<(std::ostream& out, IncomingControlStream stream);
std::ostream& operator<<(std::ostream& out, const IncomingControl& control);
std::ostream& operator<<(std::ostream& out, SendEncoding encoding);
std::ostream& operator<<(std::ostream& out, const SendControls& controls);
std::ostream& operator<<(std::ostream& out, const PlanOperation& operation);
std::ostream& operator<<(std::ostream& out, const DecodedPlanInstruction& instruction);
std::ostream& operator<<(std::ostream& out, const PlanProgramDiagnostic& diagnostic);

}  // namespace vantle_exchange::diagnostic
