#include <limits>
#include <ostream>

#include "../lib/failure.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange::diagnostic {
namespace {

using detail::fail;

constexpr std::uint64_t COUNTER_LIMIT = std::numeric_limits<std::uint32_t>::max();

constexpr std::uint32_t bits(std::uint32_t word, unsigned high, unsigned low) {
  return (word >> low) & ((1u << (high - low + 1)) - 1);
}

constexpr std::uint32_t PIC_SELECTOR_BIT = 0x40000;  // bit 18 of a PIC control value
constexpr std::uint32_t PAIRED_FLAG_BIT = 0x2000;    // bit 13 of an XPIC control value

// The pair keeps its PIC selector in bit 27 of the first word; the control gets it back in bit
// 18 of its value.
Send decode_pair(std::uint32_t first, std::uint32_t payload) {
  Send send{SendEncoding::PicPair,
            bits(first, 26, 21) + 1,
            bits(first, 20, 3),
            static_cast<std::uint8_t>(bits(first, 2, 0)),
            {}};
  send.controls.push_back({IncomingControlStream::Xpic, bits(payload, 31, 18)});
  send.controls.push_back(
      {IncomingControlStream::Pic, bits(first, 27, 27) * PIC_SELECTOR_BIT + bits(payload, 17, 0)});
  return send;
}

// A SENDPIC's selector 0 or 1 is an XPIC control with that paired flag; 2 or 3 a PIC control
// with selector 0 or 1.
Send decode_send_control(std::uint32_t word) {
  Send send{SendEncoding::Pic, bits(word, 26, 21) + 1, bits(word, 17, 0), std::nullopt, {}};
  const std::uint32_t selector = bits(word, 19, 18);
  if (selector < 2) {
    send.controls.push_back(
        {IncomingControlStream::Xpic, selector * PAIRED_FLAG_BIT + bits(word, 12, 0)});
  } else {
    send.controls.push_back(
        {IncomingControlStream::Pic, (selector - 2) * PIC_SELECTOR_BIT + bits(word, 17, 0)});
  }
  return send;
}

DecodedOperation single(PlanOperation operation, std::uint32_t advance) {
  return DecodedOperation{std::move(operation), advance, 1};
}

}  // namespace

Result<DecodedOperation> decode_operation(std::span<const std::uint32_t> words,
                                          std::size_t offset) {
  if (offset >= words.size()) {
    return fail(message::DECODE_OFFSET_OUT_OF_RANGE);
  }
  const std::uint32_t w = words[offset];
  if (w == RETURN_INSTRUCTION) {
    return single(Return{}, 0);
  }
  if (is_delay(w)) {
    return single(Delay{}, bits(w, 18, 0) + 1);
  }
  if (is_delay_pic(w)) {
    return single(IncomingControl{IncomingControlStream::Pic, bits(w, 18, 0)}, bits(w, 25, 19) + 1);
  }
  if (is_delay_xpic(w)) {
    return single(IncomingControl{IncomingControlStream::Xpic, bits(w, 13, 0)},
                  bits(w, 25, 14) + 1);
  }
  if (is_send_control_pair(w)) {
    if (offset + 1 >= words.size()) {
      return fail(message::TRUNCATED_SENDPICP_PAYLOAD);
    }
    Send send = decode_pair(w, words[offset + 1]);
    const std::uint32_t advance = send.words;
    return DecodedOperation{std::move(send), advance, 2};
  }
  if (is_send_control(w)) {
    Send send = decode_send_control(w);
    const std::uint32_t advance = send.words;
    return single(std::move(send), advance);
  }
  if (is_send(w) || is_send_off(w)) {
    const std::uint32_t advance = instruction_advance(w);
    const bool explicit_send = is_send(w);
    return single(Send{explicit_send ? SendEncoding::Explicit : SendEncoding::Offset,
                       advance,
                       explicit_send ? bits(w, 20, 3) : bits(w, 13, 3),
                       static_cast<std::uint8_t>(bits(w, 2, 0)),
                       {}},
                  advance);
  }
  if ((w & 0xFFFFFF00) == 0x41800000) {
    return single(Sync{static_cast<std::uint8_t>(bits(w, 7, 0))}, 0);
  }
  return single(Unknown{w}, 0);
}

Result<PlanProgramDiagnostic> diagnose_plan_program(std::span<const std::uint32_t> words,
                                                    std::optional<std::uint32_t> base_address) {
  PlanProgramDiagnostic diagnostic{{}, 0, static_cast<std::uint32_t>(words.size())};
  diagnostic.instructions.reserve(words.size());
  std::uint64_t cycle = 0;
  for (std::size_t offset = 0; offset < words.size();) {
    auto decoded = decode_operation(words, offset);
    if (!decoded) {
      return std::unexpected(decoded.error());
    }
    const auto start = static_cast<std::uint32_t>(cycle);
    cycle += decoded->advance;
    if (cycle > COUNTER_LIMIT) {
      return fail(message::DIAGNOSTIC_EVENT_HORIZON_OVERFLOW);
    }
    std::optional<std::uint32_t> address;
    if (base_address) {
      const std::uint64_t byte_address = *base_address + 4 * std::uint64_t{offset};
      if (byte_address > COUNTER_LIMIT) {
        return fail(message::DIAGNOSTIC_ROW_ADDRESS_OVERFLOW);
      }
      address = static_cast<std::uint32_t>(byte_address);
    }
    diagnostic.instructions.push_back({static_cast<std::uint32_t>(offset), address, start,
                                       static_cast<std::uint32_t>(cycle),
                                       std::move(decoded->operation)});
    offset += decoded->width;
  }
  diagnostic.event_cycles = static_cast<std::uint32_t>(cycle);
  return diagnostic;
}

std::pair<std::uint8_t, std::uint32_t> control_key(const IncomingControl& control) {
  return {static_cast<std::uint8_t>(control.stream), control.value};
}

// Debug renderings: type, variant and field names.

std::ostream& operator<<(std::ostream& out, IncomingControlStream stream) {
  return out << (stream == IncomingControlStream::Pic ? "Pic" : "Xpic");
}

std::ostream& operator<<(std::ostream& out, const IncomingControl& control) {
  return out << "IncomingControl { stream: " << control.stream << ", value: " << control.value
             << " }";
}

std::ostream& operator<<(std::ostream& out, SendEncoding encoding) {
  switch (encoding) {
    case SendEncoding::Explicit:
      return out << "Explicit";
    case SendEncoding::Offset:
      return out << "Offset";
    case SendEncoding::Pic:
      return out << "Pic";
    case SendEncoding::PicPair:
      return out << "PicPair";
  }
  return out << "SendEncoding(" << static_cast<int>(encoding) << ')';
}

std::ostream& operator<<(std::ostream& out, const SendControls& controls) {
  out << '[';
  for (std::size_t i = 0; i < controls.size(); ++i) {
    out << (i == 0 ? "" : ", ") << controls[i];
  }
  return out << ']';
}

std::ostream& operator<<(std::ostream& out, const PlanOperation& operation) {
  struct Printer {
    std::ostream& out;
    void operator()(const Delay&) const { out << "Delay"; }
    void operator()(const IncomingControl& control) const {
      out << "IncomingControl(" << control << ')';
    }
    void operator()(const Send& send) const {
      out << "Send { encoding: " << send.encoding << ", words: " << send.words
          << ", raw_operand: " << send.raw_operand << ", send_control: ";
      if (send.send_control) {
        out << "Some(" << static_cast<unsigned>(*send.send_control) << ')';
      } else {
        out << "None";
      }
      out << ", controls: " << send.controls << " }";
    }
    void operator()(const Sync& sync) const {
      out << "Sync(" << static_cast<unsigned>(sync.operand) << ')';
    }
    void operator()(const Return&) const { out << "Return"; }
    void operator()(const Unknown& unknown) const { out << "Unknown(" << unknown.word << ')'; }
  };
  std::visit(Printer{out}, operation);
  return out;
}

std::ostream& operator<<(std::ostream& out, const DecodedPlanInstruction& instruction) {
  out << "DecodedPlanInstruction { word_offset: " << instruction.word_offset << ", address: ";
  if (instruction.address) {
    out << "Some(" << *instruction.address << ')';
  } else {
    out << "None";
  }
  return out << ", start_cycle: " << instruction.start_cycle
             << ", end_cycle: " << instruction.end_cycle << ", operation: " << instruction.operation
             << " }";
}

std::ostream& operator<<(std::ostream& out, const PlanProgramDiagnostic& diagnostic) {
  out << "PlanProgramDiagnostic { instructions: [";
  for (std::size_t i = 0; i < diagnostic.instructions.size(); ++i) {
    out << (i == 0 ? "" : ", ") << diagnostic.instructions[i];
  }
  return out << "], event_cycles: " << diagnostic.event_cycles
             << ", row_words: " << diagnostic.row_words << " }";
}

}  // namespace vantle_exchange::diagnostic
