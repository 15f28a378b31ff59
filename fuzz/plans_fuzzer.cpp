// Random arguments to the plan builders and to the patching, offset and measuring operations:
// results are well-formed rows, failures are documented and leave their row as it was.

#include <algorithm>

#include "fuzz_support.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/row_timing.hpp"
#include "vantle_exchange/topology.hpp"

using namespace vantle_exchange;
using namespace vantle_exchange::fuzz;

namespace {

std::uint16_t consume_tile(FuzzedDataProvider& input) {
  return input.ConsumeIntegralInRange<int>(0, 7) == 0
             ? input.ConsumeIntegral<std::uint16_t>()
             : input.ConsumeIntegralInRange<std::uint16_t>(0, 1471);
}

std::uint32_t consume_count(FuzzedDataProvider& input) {
  return input.ConsumeIntegralInRange<int>(0, 7) == 0
             ? input.ConsumeIntegral<std::uint32_t>()
             : input.ConsumeIntegralInRange<std::uint32_t>(0, 4200);
}

void expect_executable(const Row& row, const char* what) {
  expect(row[0] == ROW_ENTRY_INSTRUCTION, what, "entry word");
  expect(std::ranges::count(row, RETURN_INSTRUCTION) == 1, what, "one return word");
}

// Rows as the plans build them: nothing but zeros after the return word, and no SENDPICP pair
// whose payload word could pass for one.
bool only_zeros_after_return(const Row& row) {
  const auto end = std::ranges::find(row, RETURN_INSTRUCTION);
  return end != row.end() &&
         std::all_of(end + 1, row.end(), [](std::uint32_t w) { return w == 0; }) &&
         std::none_of(row.begin(), end, is_send_control_pair);
}

// Patching, offsetting and measuring a row: each either succeeds as promised or changes nothing.
void exercise_row(FuzzedDataProvider& input, Row row) {
  const Row original = row;
  const std::uint32_t address = input.ConsumeIntegral<std::uint32_t>();
  switch (input.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: {
      const auto patched = patch_sender_address(row, address);
      expect_documented_if_failed(patched);
      if (!patched) {
        expect(row == original, "a failed sender patch changes nothing");
      } else {
        expect(
            normalized_exchange_address_words(row) == normalized_exchange_address_words(original),
            "a sender patch writes only an address field");
      }
      break;
    }
    case 1: {
      const auto patched = patch_receiver_address(row, address);
      expect_documented_if_failed(patched);
      if (!patched) {
        expect(row == original, "a failed receiver patch changes nothing");
      } else {
        expect(
            normalized_exchange_address_words(row) == normalized_exchange_address_words(original),
            "a receiver patch writes only an address field");
      }
      break;
    }
    case 2: {
      const std::uint32_t cycles = consume_cycles(input);
      const auto before = plan_event_cycles(row);
      const auto offset = offset_plan(row, cycles);
      expect_documented_if_failed(offset);
      if (!offset) {
        expect(row == original, "a failed offset changes nothing");
      } else if (before && std::uint64_t{*before} + cycles <= 0xFFFFFFFFu &&
                 only_zeros_after_return(original)) {
        expect(plan_event_cycles(row) == *before + cycles,
               "an offset delays by exactly its cycles");
        expect(row[0] == original[0], "the entry word stays first");
      }
      break;
    }
    case 3: {
      const auto finalized = finalize_point_receiver(row, input.ConsumeIntegral<std::uint16_t>());
      expect_documented_if_failed(finalized);
      break;
    }
    default: {
      const auto control = static_cast<std::uint8_t>(input.ConsumeIntegral<std::uint8_t>() % 9);
      const auto marked = set_sender_control(row, control);
      expect_documented_if_failed(marked);
      if (!marked) {
        expect(row == original, "a failed send-control rewrite changes nothing");
      }
      break;
    }
  }
  const auto normalized = normalized_exchange_address_words(row);
  expect(normalized.size() == row.size(), "normalising keeps the length");
  expect(normalized_exchange_address_words(normalized) == normalized, "normalising is idempotent");
  expect_documented_if_failed(plan_event_cycles(row));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint16_t sender = consume_tile(input);
  std::vector<std::uint16_t> receivers;
  const auto receiver_count = input.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < receiver_count; ++i) {
    receivers.push_back(consume_tile(input));
  }
  const std::uint32_t count = consume_count(input);

  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {
      const auto plan = board().point_to_point(sender, receivers.empty() ? 0 : receivers[0], count);
      expect_documented_if_failed(plan);
      if (plan) {
        expect_executable(plan->sender, "point-to-point sender");
        expect(sender_row_timing(plan->sender, 0).has_value(), "point-to-point sender walks");
        exercise_row(input, plan->sender);
        exercise_row(input, plan->receiver);
      }
      break;
    }
    case 1:
    case 2: {
      const bool paired = input.ConsumeBool();
      const auto plan = paired ? board().paired_multicast(sender, receivers, count)
                               : board().multicast(sender, receivers, count, consume_cycles(input));
      expect_documented_if_failed(plan);
      if (plan) {
        expect(plan->receivers.size() == receivers.size(), "one row per receiver");
        expect_executable(plan->sender, "multicast sender");
        expect(sender_row_timing(plan->sender, 0).has_value(), "multicast sender walks");
        for (const Row& row : plan->receivers) {
          expect_executable(row, "multicast receiver");
          const auto timing = receive_row_timing(row, 0);
          expect(timing.has_value(), "multicast receiver walks",
                 timing ? "" : to_string(timing.error()));
          expect(timing->mode == (paired ? ReceiveMode::Paired64 : ReceiveMode::Ordinary), "mode");
        }
        exercise_row(input, plan->sender);
        exercise_row(input, plan->receivers.front());
      }
      break;
    }
    default:
      exercise_row(input, consume_row(input));
      break;
  }
  return 0;
}
