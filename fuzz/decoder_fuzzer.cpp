// Any word sequence decodes to a diagnostic whose cycles, offsets and addresses add up, or to one
// of the decoder's documented errors; validating it against an empty schedule never crashes.

#include "fuzz_support.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/instruction.hpp"

using namespace vantle_exchange;
using namespace vantle_exchange::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool with_base = input.ConsumeBool();
  const std::uint32_t base = input.ConsumeIntegral<std::uint32_t>();
  const std::vector<std::uint32_t> words = consume_words(input, 4096);
  const std::optional<std::uint32_t> base_address =
      with_base ? std::optional<std::uint32_t>(base) : std::nullopt;

  const auto diagnostic = diagnostic::diagnose_plan_program(words, base_address);
  if (!diagnostic) {
    expect_documented(diagnostic.error());
    const auto message = diagnostic.error().message();
    expect(message == message::TRUNCATED_SENDPICP_PAYLOAD ||
               message == message::DIAGNOSTIC_EVENT_HORIZON_OVERFLOW ||
               message == message::DIAGNOSTIC_ROW_ADDRESS_OVERFLOW,
           "decoder error", to_string(diagnostic.error()));
    return 0;
  }
  expect(diagnostic->row_words == words.size(), "row words");
  std::uint32_t offset = 0;
  std::uint32_t cycle = 0;
  for (const auto& instruction : diagnostic->instructions) {
    expect(instruction.word_offset == offset, "word offsets follow the widths");
    expect(instruction.start_cycle == cycle, "each instruction issues when the last one ends");
    const auto decoded = diagnostic::decode_operation(words, offset);
    expect(decoded.has_value(), "every listed instruction decodes on its own");
    expect(decoded->operation == instruction.operation, "same operation alone and in sequence");
    expect(instruction.end_cycle - instruction.start_cycle == decoded->advance, "advance");
    expect(decoded->advance == instruction_advance(words[offset]),
           "the decoder's advance is the cycle model's");
    expect(instruction.address.has_value() == with_base, "address present with a base");
    if (with_base) {
      expect(*instruction.address == base + 4 * offset, "address of the word");
    }
    offset += decoded->width;
    cycle = instruction.end_cycle;
  }
  expect(offset == words.size(), "the instructions cover every word");
  expect(cycle == diagnostic->event_cycles, "event cycles are the sum of the advances");
  expect(plan_event_cycles(words) == diagnostic->event_cycles,
         "the decoder and the plan measure agree");

  const auto validated = diagnostic::validate_tile_program(0, TileProgramSchedule{}, words);
  expect_documented_if_failed(validated);
  return 0;
}
