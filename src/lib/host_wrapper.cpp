// The prologue and epilogue around a host operation: the tile's host route is selected on the
// incoming mux for the operation and the neutral selection restored after it.

#include <optional>

#include "failure.hpp"
#include "host_words.hpp"
#include "vantle_exchange/host.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange {
namespace {

// Words the wrapper puts around the body: three in front, four behind.
constexpr std::size_t WRAPPER_WORDS = 7;
// A host-to-tile target program sets up its word count in its first two words; a tile that is
// its own xreq tile sends the bitmap right after them, before its first read request.
constexpr std::size_t COMBINED_PREFIX_WORDS = 2;

// The operation without its final return word, or nothing when it does not end with one.
std::optional<std::span<const std::uint32_t>> operation_body(
    std::span<const std::uint32_t> operation) {
  if (operation.empty() || operation.back() != RETURN_INSTRUCTION) {
    return std::nullopt;
  }
  return operation.first(operation.size() - 1);
}

// Selects the host route of the tile whose host mux value is `mux`, then waits on `entry_sync`.
void append_host_prologue(std::vector<std::uint32_t>& words, std::uint32_t mux,
                          std::uint32_t entry_sync) {
  words.push_back(setzi_m(detail::HOST_SCRATCH_REGISTER, mux));
  words.push_back(put_special_from_m8(detail::INCOMING_MUX_SPECIAL_REGISTER));
  words.push_back(entry_sync);
}

void append_words(std::vector<std::uint32_t>& words, std::span<const std::uint32_t> more) {
  words.insert(words.end(), more.begin(), more.end());
}

void append_host_epilogue(std::vector<std::uint32_t>& words) {
  append_local_host_completion(words);
  words.push_back(RETURN_INSTRUCTION);
}

}  // namespace

void append_local_host_completion(std::vector<std::uint32_t>& instructions) {
  instructions.push_back(SYNC_ALL_INSTRUCTION);
  instructions.push_back(setzi_m(detail::HOST_SCRATCH_REGISTER, TILE_MUX_EXCHANGE));
  instructions.push_back(put_special_from_m8(detail::INCOMING_MUX_SPECIAL_REGISTER));
}

Result<std::vector<std::uint32_t>> wrap_host_operation(std::uint16_t physical_tile,
                                                       std::span<const std::uint32_t> operation,
                                                       std::uint32_t entry_sync) {
  const std::optional<std::span<const std::uint32_t>> body = operation_body(operation);
  if (!body) {
    return detail::fail(message::HOST_TARGET_OPERATION_RETURN);
  }
  const Result<std::uint32_t> mux = host_mux_for_tile(physical_tile);
  if (!mux) {
    return std::unexpected(mux.error());
  }
  std::vector<std::uint32_t> words;
  words.reserve(body->size() + WRAPPER_WORDS);
  append_host_prologue(words, *mux, entry_sync);
  append_words(words, *body);
  append_host_epilogue(words);
  return words;
}

Result<std::vector<std::uint32_t>> wrap_host_xreq_operation(
    std::uint16_t physical_tile, std::span<const std::uint32_t> operation) {
  return wrap_host_operation(physical_tile, operation, SYNC_HOST_INSTRUCTION);
}

Result<std::vector<std::uint32_t>> wrap_host_target_operation(
    std::uint16_t physical_tile, std::span<const std::uint32_t> operation) {
  return wrap_host_operation(physical_tile, operation, SYNC_ALL_INSTRUCTION);
}

Result<std::vector<std::uint32_t>> wrap_combined_host_operation(
    std::uint16_t physical_tile, std::span<const std::uint32_t> operation,
    std::uint32_t xreq_packet_address) {
  const std::optional<std::span<const std::uint32_t>> body = operation_body(operation);
  if (!body) {
    return detail::fail(message::LOCAL_HOST_OPERATION_RETURN);
  }
  if (body->size() < COMBINED_PREFIX_WORDS ||
      !detail::is_host_packet_address(xreq_packet_address)) {
    return detail::fail(message::LOCAL_HOST_OPERATION_PREFIX);
  }
  const Result<std::uint32_t> mux = host_mux_for_tile(physical_tile);
  if (!mux) {
    return std::unexpected(mux.error());
  }
  const Result<std::uint32_t> bitmap_send =
      detail::host_send(xreq_packet_address, detail::HOST_PACKET_WORDS);
  if (!bitmap_send) {
    return std::unexpected(bitmap_send.error());
  }
  std::vector<std::uint32_t> words;
  words.reserve(body->size() + WRAPPER_WORDS + 1);
  append_host_prologue(words, *mux, SYNC_HOST_INSTRUCTION);
  append_words(words, body->first(COMBINED_PREFIX_WORDS));
  words.push_back(*bitmap_send);
  append_words(words, body->subspan(COMBINED_PREFIX_WORDS));
  append_host_epilogue(words);
  return words;
}

}  // namespace vantle_exchange
