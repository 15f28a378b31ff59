#include <algorithm>
#include <limits>
#include <vector>

#include "failure.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/program_encoder.hpp"
#include "vantle_exchange/row_timing.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

using detail::fail;

// A paired transfer carries 64-bit items: fewer than 64 words cannot be sent that way.
constexpr std::uint32_t MINIMUM_PAIRED_WORDS = 64;
// Bit 2 of the send control marks a 64-bit send.
constexpr std::uint8_t WIDE_SEND = 4;
constexpr std::uint8_t BOTH_DIRECTIONS_WIDE = 7;
// The format start lands this many cycles after the source selection, later by two per row.
constexpr std::int64_t FORMAT_START_DELAY = 51;
// The pointer is set two cycles after the format start.
constexpr std::uint32_t POINTER_AFTER_FORMAT_START = 2;
// The row lasts seven cycles past its last control.
constexpr std::uint64_t ROW_TAIL_CYCLES = 7;

bool all_distinct(std::span<const std::uint16_t> tiles) {
  std::vector<std::uint16_t> sorted(tiles.begin(), tiles.end());
  std::ranges::sort(sorted);
  return std::ranges::adjacent_find(sorted) == sorted.end();
}

bool contains(std::span<const std::uint16_t> tiles, std::uint16_t tile) {
  return std::ranges::find(tiles, tile) != tiles.end();
}

}  // namespace

Result<std::uint16_t> Topology::paired_logical(std::uint16_t logical) const {
  const auto physical_id = physical(logical);
  if (!physical_id) {
    return physical_id;
  }
  const auto partner = std::ranges::find(logical_to_physical_, *physical_id ^ 2);
  if (partner == logical_to_physical_.end()) {
    return std::unexpected(ExchangeError::tile(logical));
  }
  return static_cast<std::uint16_t>(partner - logical_to_physical_.begin());
}

Result<bool> Topology::paired_receiver_is_early(std::uint16_t receiver_logical,
                                                std::uint16_t sender_logical) const {
  const auto receiver = physical(receiver_logical);
  if (!receiver) {
    return std::unexpected(receiver.error());
  }
  const auto sender = physical(sender_logical);
  if (!sender) {
    return std::unexpected(sender.error());
  }
  const std::int32_t local = time_to_mux(*sender, *receiver);
  const std::int32_t borrowed = time_to_mux(*sender, *receiver ^ 2u);
  return local < borrowed;
}

Result<MulticastPlan> Topology::paired_multicast(std::uint16_t sender_logical,
                                                 std::span<const std::uint16_t> receivers,
                                                 std::uint32_t count) const {
  if (auto valid = validate_count(count); !valid) {
    return std::unexpected(valid.error());
  }
  if (count < MINIMUM_PAIRED_WORDS) {
    return std::unexpected(ExchangeError::count(count));
  }
  if (receivers.empty() || receivers.size() % 2 != 0 || !all_distinct(receivers) ||
      contains(receivers, sender_logical)) {
    return std::unexpected(ExchangeError::receiver_set());
  }
  const auto sender_partner = paired_logical(sender_logical);
  if (!sender_partner) {
    return std::unexpected(sender_partner.error());
  }
  if (contains(receivers, *sender_partner)) {
    return std::unexpected(ExchangeError::receiver_set());
  }
  // Receivers come in complete pairs.
  for (const std::uint16_t receiver : receivers) {
    const auto partner = paired_logical(receiver);
    if (!partner || !contains(receivers, *partner)) {
      return std::unexpected(ExchangeError::receiver_set());
    }
  }

  auto plan = multicast(sender_logical, receivers, count, 0);
  if (!plan) {
    return plan;
  }
  const auto sender = physical(sender_logical);
  if (!sender) {
    return std::unexpected(sender.error());
  }
  std::vector<std::uint16_t> receiver_physical;
  receiver_physical.reserve(receivers.size());
  for (const std::uint16_t receiver : receivers) {
    const auto id = physical(receiver);
    if (!id) {
      return std::unexpected(id.error());
    }
    receiver_physical.push_back(*id);
  }
  // One pair gets the pair's own route direction; several pairs are reached both ways.
  const auto send_control =
      receivers.size() == 2
          ? static_cast<std::uint8_t>(direction(*sender, receiver_physical[0]) | WIDE_SEND)
          : BOTH_DIRECTIONS_WIDE;
  if (auto marked = set_sender_control(plan->sender, send_control); !marked) {
    return std::unexpected(marked.error());
  }

  std::int32_t minimum_double_mux = std::numeric_limits<std::int32_t>::max();
  for (const std::uint16_t r : receiver_physical) {
    minimum_double_mux = std::min(minimum_double_mux, paired_time_to_mux(*sender, r));
  }
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    auto row = paired_receiver_row(sender_logical, receivers[i], count, minimum_double_mux);
    if (!row) {
      return std::unexpected(row.error());
    }
    plan->receivers[i] = *row;
  }
  return plan;
}

Result<Row> Topology::paired_receiver_row(std::uint16_t sender_logical,
                                          std::uint16_t receiver_logical, std::uint32_t count,
                                          std::int32_t minimum_double_mux) const {
  const auto sender = physical(sender_logical);
  if (!sender) {
    return std::unexpected(sender.error());
  }
  const auto receiver = physical(receiver_logical);
  if (!receiver) {
    return std::unexpected(receiver.error());
  }
  // The plan's time origin puts the earliest source selection of all receivers at cycle 1.
  const std::int64_t epoch_shift = std::max<std::int64_t>(1 - std::int64_t{minimum_double_mux}, 0);
  const std::int64_t source_event = epoch_shift + paired_time_to_mux(*sender, *receiver);
  if (source_event < 0) {
    return fail(message::PAIRED_SOURCE_TIMING);
  }
  const std::int64_t format_start = source_event + FORMAT_START_DELAY + 2 * (*receiver / 64);
  if (format_start + count > std::numeric_limits<std::uint32_t>::max()) {
    return fail(message::PAIRED_RECEIVE_HORIZON_OVERFLOW);
  }
  const auto source = static_cast<std::uint32_t>(source_event);
  const auto start = static_cast<std::uint32_t>(format_start);

  std::vector<ReceiveEvent> events;
  events.reserve(5);
  const auto early = paired_receiver_is_early(receiver_logical, sender_logical);
  if (!early) {
    return std::unexpected(early.error());
  }
  // Only the early member of the pair selects the sender on its mux.
  if (*early) {
    events.push_back(
        {source, delay_xpic(0, 1, *sender ^ (*receiver & 2u)), ReceiveEventKind::PairedSource});
    events.push_back(
        {source + count, delay_xpic(0, 1, TILE_MUX_EXCHANGE), ReceiveEventKind::PairedNeutral});
  }
  events.push_back(
      {start, delay_pic(0, 1, direction(*sender, *receiver)), ReceiveEventKind::Format});
  events.push_back(
      {start + POINTER_AFTER_FORMAT_START, delay_pic(0, 0, 0), ReceiveEventKind::Pointer});
  events.push_back({start + count, delay_pic(0, 1, 0), ReceiveEventKind::Format});
  std::ranges::stable_sort(events, {}, &ReceiveEvent::cycles);
  // Stricter than a tile schedule: the row delivers each control with its own delay word, so no
  // two controls may share a cycle.
  if (std::ranges::adjacent_find(events, {}, &ReceiveEvent::cycles) != events.end()) {
    return fail(message::PAIRED_RECEIVE_COINCIDENT_CONTROLS);
  }
  if (auto valid = validate_receive_events(events); !valid) {
    return std::unexpected(valid.error());
  }
  const std::uint64_t horizon = std::uint64_t{events.back().cycles} + ROW_TAIL_CYCLES;
  if (horizon > std::numeric_limits<std::uint32_t>::max()) {
    return fail(message::PAIRED_RECEIVE_HORIZON_OVERFLOW);
  }

  std::vector<std::uint32_t> words = {ROW_ENTRY_INSTRUCTION};
  std::uint32_t event_cycles = 0;
  if (auto encoded = append_receive_events(words, event_cycles, events,
                                           static_cast<std::uint32_t>(horizon), false);
      !encoded) {
    return std::unexpected(encoded.error());
  }
  words.push_back(RETURN_INSTRUCTION);
  Row row{};
  if (words.size() > row.size()) {
    return fail(message::PAIRED_RECEIVE_ROW_CAPACITY);
  }
  std::ranges::copy(words, row.begin());
  return row;
}

Status set_sender_control(Row& row, std::uint8_t send_control) {
  if (send_control < 1 || send_control > 7) {
    return fail(message::SEND_CONTROL);
  }
  Row marked = row;
  bool rewritten = false;
  for (std::size_t cursor = 0; cursor < marked.size();) {
    std::uint32_t& word = marked[cursor];
    const bool pair = is_send_control_pair(word);
    if (is_send(word) || is_send_off(word) || (pair && (word & 3) != 0)) {
      word = (word & ~7u) | send_control;
      rewritten = true;
    }
    // A SENDPICP pair's payload word holds receive controls, never a send.
    cursor += pair ? 2u : 1u;
  }
  if (!rewritten) {
    return fail(message::SENDER_PAYLOAD);
  }
  row = marked;
  return {};
}

}  // namespace vantle_exchange
