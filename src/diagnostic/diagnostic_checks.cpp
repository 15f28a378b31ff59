// Checks of the exchange instruction decoder on two-word control instructions.

#include <algorithm>
#include <variant>
#include <vector>

#include "checks/check.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/program_encoder.hpp"

namespace vantle_exchange::diagnostic::tests {

VANTLE_EXCHANGE_CHECK("diagnostic_tests", paired_control_decoder_preserves_the_pic_selector) {
  const std::vector<ReceiveEvent> events = {
      {1, delay_xpic(0, 0, 0), ReceiveEventKind::OrdinarySource},
      {1, delay_pic(0, 1, 1), ReceiveEventKind::Format},
  };
  VANTLE_EXCHANGE_MUST(pair, encode_send_control_pair(0, 0, 0, events));
  const std::vector<std::uint32_t> words = {pair.first, pair.payload};
  VANTLE_EXCHANGE_MUST(decoded, diagnose_plan_program(words, std::nullopt));
  ASSERT_FALSE(decoded.instructions.empty());
  const auto* send = std::get_if<Send>(&decoded.instructions.front().operation);
  ASSERT_NE(send, nullptr) << "expected a paired control instruction";
  const IncomingControl format{IncomingControlStream::Pic, 0x40001};
  ASSERT_NE(std::ranges::find(send->controls, format), send->controls.end())
      << "controls " << send->controls;
}

VANTLE_EXCHANGE_CHECK("diagnostic_tests", sdk_full_duplex_pair_decodes_absolute_send_restart) {
  const std::vector<std::uint32_t> words = {0xF54A0109, 0x19015000};
  VANTLE_EXCHANGE_MUST(decoded, diagnose_plan_program(words, std::nullopt));
  ASSERT_EQ(decoded.event_cycles, 43u);
  ASSERT_FALSE(decoded.instructions.empty());
  const PlanOperation expected = Send{
      SendEncoding::PicPair, 43, 0x14021, 1,
      SendControls{{IncomingControlStream::Xpic, 0x640}, {IncomingControlStream::Pic, 0x15000}}};
  ASSERT_EQ(decoded.instructions.front().operation, expected);
}

VANTLE_EXCHANGE_CHECK("diagnostic_tests",
                      sdk_receiver_row_decodes_two_word_controls_as_single_instructions) {
  const std::vector<std::uint32_t> words = {0x64000082, 0x40A00032, 0xF6600000, 0x03014048,
                                            0xF6600000, 0x03095000, 0xF6600000, 0x04016000,
                                            0xF7200000, 0x19017000, 0x43A00000};
  VANTLE_EXCHANGE_MUST(decoded, diagnose_plan_program(words, 0x60000));
  ASSERT_EQ(decoded.row_words, 11u);
  ASSERT_EQ(decoded.instructions.size(), 7u);
  std::vector<const DecodedPlanInstruction*> pairs;
  for (const DecodedPlanInstruction& instruction : decoded.instructions) {
    const auto* send = std::get_if<Send>(&instruction.operation);
    if (send != nullptr && send->encoding == SendEncoding::PicPair) {
      pairs.push_back(&instruction);
    }
  }
  ASSERT_EQ(pairs.size(), 4u);
  ASSERT_EQ(pairs[0]->address, 0x60008u);
  ASSERT_EQ(pairs[1]->address, 0x60010u);
  ASSERT_EQ(pairs[0]->end_cycle - pairs[0]->start_cycle, 52u);
  ASSERT_TRUE(std::ranges::none_of(decoded.instructions, [](const auto& instruction) {
    return std::holds_alternative<Unknown>(instruction.operation);
  }));
}

}  // namespace vantle_exchange::diagnostic::tests
