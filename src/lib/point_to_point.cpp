#include "failure.hpp"
#include "plan_rows.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/log.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

// The receiver's first XPIC delay lasts 113 cycles, so its mux selects the sender at cycle 113;
// the send must issue 113 - 1 - time_to_mux cycles after the sender's row entry.
constexpr std::int32_t MUX_SELECT_CYCLE = 113;
constexpr std::int64_t MAXIMUM_SENDER_DELAY = 0x7FFFF;
// A point receiver row names the position of its mux word (after word 0 is dropped).
constexpr std::uint32_t POINT_RECEIVER_PATCH_INDEX = 1;

constexpr std::string_view POINT_TO_POINT_FIELDS[] = {"sender_logical", "receiver_logical",
                                                      "count"};
constexpr log::Callsite POINT_TO_POINT_ASSEMBLED{
    .message = "assembled point-to-point exchange",
    .target = "vantle_exchange",
    .level = log::Level::Debug,
    .location = std::source_location::current(),
    .field_names = POINT_TO_POINT_FIELDS,
};

Row point_receiver_row(std::uint32_t count, std::uint32_t phase) {
  detail::RowWriter row;
  row.push(POINT_RECEIVER_PATCH_INDEX);
  row.push(ROW_ENTRY_INSTRUCTION);
  // Mux value 0 until finalize_point_receiver writes the sender's physical id.
  row.push(delay_xpic(MUX_SELECT_CYCLE - 1, 0, 0));
  detail::push_receive_controls(row, count, phase, 0);
  return row.row();
}

}  // namespace

Result<Plan> Topology::point_to_point(std::uint16_t sender_logical, std::uint16_t receiver_logical,
                                      std::uint32_t count) const {
  if (auto valid = validate_count(count); !valid) {
    return std::unexpected(valid.error());
  }
  if (sender_logical == receiver_logical) {
    return std::unexpected(ExchangeError::duplicate_tile());
  }
  const auto sender = physical(sender_logical);
  if (!sender) {
    return std::unexpected(sender.error());
  }
  const auto receiver = physical(receiver_logical);
  if (!receiver) {
    return std::unexpected(receiver.error());
  }
  const std::uint32_t route = direction(*sender, *receiver);
  const std::int32_t mux_time = time_to_mux(*sender, *receiver);
  const std::int64_t sender_delay = std::int64_t{MUX_SELECT_CYCLE - 2} - mux_time;
  if (sender_delay < -1 || sender_delay > MAXIMUM_SENDER_DELAY) {
    return detail::fail(message::SENDER_DELAY);
  }
  Plan plan{
      .sender = detail::sender_row(sender_delay, count, route),
      .receiver = point_receiver_row(count, detail::receiver_phase(*receiver)),
  };
  if (const auto sink = log::sink_for(POINT_TO_POINT_ASSEMBLED)) {
    sink.emit({
        {"sender_logical", std::uint64_t{sender_logical}},
        {"receiver_logical", std::uint64_t{receiver_logical}},
        {"count", std::uint64_t{count}},
    });
  }
  return plan;
}

}  // namespace vantle_exchange
