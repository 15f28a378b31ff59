#include <algorithm>
#include <sstream>

#include "failure.hpp"
#include "plan_rows.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/log.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

// The XPIC delay that selects the sender holds the receive cycle in its 12-bit cycle field, and
// the sender's leading delay starts the send at the start cycle: both stay within 0 to 4095.
constexpr std::int64_t MAXIMUM_RECEIVE_CYCLE = 4095;
constexpr std::uint64_t MAXIMUM_START_CYCLE = 4095;
// Received words go to byte address 0x50000 until the caller patches the destination.
constexpr std::uint32_t DEFAULT_RECEIVE_POINTER = 0x14000;
// A send to several receivers goes both ways along the exchange.
constexpr std::uint32_t BOTH_DIRECTIONS = 3;

constexpr std::string_view MULTICAST_FIELDS[] = {"sender_logical", "receiver_logical", "count",
                                                 "schedule_offset"};
constexpr log::Callsite MULTICAST_ASSEMBLED{
    .message = "assembled multicast exchange",
    .target = "vantle_exchange",
    .level = log::Level::Debug,
    .location = std::source_location::current(),
    .field_names = MULTICAST_FIELDS,
};

std::string debug_list(std::span<const std::uint16_t> values) {
  std::ostringstream out;
  out << '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    out << (i == 0 ? "" : ", ") << values[i];
  }
  out << ']';
  return std::move(out).str();
}

// A receiver list is valid when it is not empty and names only distinct tiles of the board
// other than the sender.
bool is_valid_receiver_set(std::uint16_t sender_logical, std::span<const std::uint16_t> receivers,
                           std::uint16_t tile_count) {
  if (receivers.empty()) {
    return false;
  }
  std::vector<bool> taken(tile_count);
  taken[sender_logical] = true;
  for (const std::uint16_t receiver : receivers) {
    if (receiver >= tile_count || taken[receiver]) {
      return false;
    }
    taken[receiver] = true;
  }
  return true;
}

Row multicast_receiver_row(std::uint32_t receive_cycle, std::uint16_t source_physical,
                           std::uint32_t count, std::uint32_t phase) {
  detail::RowWriter row;
  row.push(ROW_ENTRY_INSTRUCTION);
  // The mux selects the sender when this delay runs out, at receive_cycle + 1.
  row.push(delay_xpic(receive_cycle, 0, source_physical));
  detail::push_receive_controls(row, count, phase, DEFAULT_RECEIVE_POINTER);
  return row.row();
}

}  // namespace

Result<MulticastPlan> Topology::multicast(std::uint16_t sender_logical,
                                          std::span<const std::uint16_t> receiver_logical,
                                          std::uint32_t count,
                                          std::uint32_t schedule_offset) const {
  if (auto valid = validate_count(count); !valid) {
    return std::unexpected(valid.error());
  }
  const auto source_physical = physical(sender_logical);
  if (!source_physical) {
    return std::unexpected(source_physical.error());
  }
  if (!is_valid_receiver_set(sender_logical, receiver_logical, tile_count())) {
    return std::unexpected(ExchangeError::receiver_set());
  }

  std::vector<std::int32_t> mux_times;
  mux_times.reserve(receiver_logical.size());
  for (const std::uint16_t receiver : receiver_logical) {
    mux_times.push_back(time_to_mux(*source_physical, logical_to_physical_[receiver]));
  }
  // The send starts just late enough that no receiver would have to select it before cycle 0.
  const std::int32_t minimum_mux = std::ranges::min(mux_times);
  const std::uint64_t natural_start = static_cast<std::uint64_t>(std::max(-minimum_mux, 0));
  const std::uint64_t start_cycle = natural_start + schedule_offset;
  if (start_cycle > MAXIMUM_START_CYCLE) {
    return detail::fail(message::MULTICAST_START_CYCLE);
  }

  const std::uint32_t send_direction =
      receiver_logical.size() == 1
          ? direction(*source_physical, logical_to_physical_[receiver_logical.front()])
          : BOTH_DIRECTIONS;
  MulticastPlan plan{
      .sender =
          detail::sender_row(static_cast<std::int64_t>(start_cycle) - 1, count, send_direction),
      .receivers = {},
  };
  plan.receivers.reserve(receiver_logical.size());
  for (std::size_t i = 0; i < receiver_logical.size(); ++i) {
    const std::int64_t receive_cycle =
        std::int64_t{mux_times[i]} + static_cast<std::int64_t>(start_cycle);
    if (receive_cycle < 0 || receive_cycle > MAXIMUM_RECEIVE_CYCLE) {
      return detail::fail(message::MULTICAST_RECEIVE_CYCLE);
    }
    const std::uint16_t receiver_physical = logical_to_physical_[receiver_logical[i]];
    plan.receivers.push_back(multicast_receiver_row(static_cast<std::uint32_t>(receive_cycle),
                                                    *source_physical, count,
                                                    detail::receiver_phase(receiver_physical)));
  }

  if (const auto sink = log::sink_for(MULTICAST_ASSEMBLED)) {
    sink.emit({
        {"sender_logical", std::uint64_t{sender_logical}},
        {"receiver_logical", debug_list(receiver_logical)},
        {"count", std::uint64_t{count}},
        {"schedule_offset", std::uint64_t{schedule_offset}},
    });
  }
  return plan;
}

}  // namespace vantle_exchange
