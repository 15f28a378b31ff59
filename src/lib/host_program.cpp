// The tile programs of host operations and the packet words their sends read.

#include <algorithm>
#include <array>
#include <limits>

#include "host_words.hpp"
#include "vantle_exchange/host.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange {
namespace {

using XreqBitmap = std::array<std::uint32_t, 2>;

// A target's bitmap index names its group of 64 tiles (two indices per group, told apart by bit
// 1 of the id). The first bitmap word holds indices 0 to 23, the second 24 to 55: physical tiles
// below 1792. Tiles above would need bits the two words do not have.
constexpr std::uint32_t TILES_PER_XREQ_GROUP_SHIFT = 6;
constexpr std::uint32_t FIRST_BITMAP_WORD_INDICES = 24;
constexpr std::uint32_t BITMAP_INDICES = FIRST_BITMAP_WORD_INDICES + 32;

constexpr std::uint32_t WORD_BYTES = 4;
// Each payload occupies at least this many cycles; a shorter one is padded with a delay.
constexpr std::uint32_t MINIMUM_PAYLOAD_CYCLES = 18;
// A tile-to-host target program and the command read expect one word of answer from the host.
constexpr std::uint32_t SINGLE_WORD_COUNT = 1;

// The command read runs on physical tile 0, its own xreq tile. After the read, its forwarding
// row waits 73 cycles before it sends the word on.
constexpr std::uint16_t COMMAND_READ_TILE = 0;
constexpr std::uint32_t COMMAND_READ_BYTES = 4;
constexpr std::uint32_t COMMAND_FORWARD_DELAY_FIELD = 72;

Result<std::uint32_t> bitmap_index(std::uint16_t target_physical_tile) {
  if (const Status tile = validate_host_tile(target_physical_tile); !tile) {
    return std::unexpected(tile.error());
  }
  const std::uint32_t target = target_physical_tile;
  const std::uint32_t index = (target >> TILES_PER_XREQ_GROUP_SHIFT) * 2 + ((target >> 1) & 1);
  if (index >= BITMAP_INDICES) {
    return std::unexpected(ExchangeError::host_packet());
  }
  return index;
}

// The two bitmap words that name every target; a target listed twice sets its bit twice.
Result<XreqBitmap> xreq_bitmap(std::span<const std::uint16_t> target_physical_tiles) {
  XreqBitmap bitmap{};
  for (const std::uint16_t target : target_physical_tiles) {
    const Result<std::uint32_t> index = bitmap_index(target);
    if (!index) {
      return std::unexpected(index.error());
    }
    if (*index < FIRST_BITMAP_WORD_INDICES) {
      bitmap[0] |= std::uint32_t{1} << *index;
    } else {
      bitmap[1] |= std::uint32_t{1} << (*index - FIRST_BITMAP_WORD_INDICES);
    }
  }
  return bitmap;
}

void append_header(std::vector<std::uint32_t>& packet_words, const HostPacketHeader& header) {
  packet_words.push_back(header.word0);
  packet_words.push_back(header.word1);
}

// Loads the count of words the tile expects from the host.
void append_word_count(std::vector<std::uint32_t>& instructions, std::uint32_t words) {
  instructions.push_back(setzi_m(detail::HOST_SCRATCH_REGISTER, words));
  instructions.push_back(put_special_from_m8(detail::HOST_WORD_COUNT_SPECIAL_REGISTER));
}

Status append_send(std::vector<std::uint32_t>& instructions, std::uint64_t byte_address,
                   std::uint32_t words) {
  const Result<std::uint32_t> send = detail::host_send(byte_address, words);
  if (!send) {
    return std::unexpected(send.error());
  }
  instructions.push_back(*send);
  return {};
}

bool is_word_aligned_payload(const HostTransferChunk& chunk) {
  return chunk.tile_address % WORD_BYTES == 0 && chunk.bytes % WORD_BYTES == 0;
}

// The header of one chunk, then its payload, padded to the minimum payload cycles.
Status append_tile_to_host_chunk(std::vector<std::uint32_t>& instructions,
                                 const HostTransferChunk& chunk, std::uint64_t header_address) {
  if (const Status header = append_send(instructions, header_address, detail::HOST_PACKET_WORDS);
      !header) {
    return header;
  }
  const std::uint32_t payload_words = chunk.bytes / WORD_BYTES;
  if (const Status payload = append_send(instructions, chunk.tile_address, payload_words);
      !payload) {
    return payload;
  }
  if (payload_words < MINIMUM_PAYLOAD_CYCLES) {
    instructions.push_back(delay(MINIMUM_PAYLOAD_CYCLES - 1 - payload_words));
  }
  return {};
}

// The packet words of a host-to-tile stream: only the last request keeps its stream-end bits.
std::vector<std::uint32_t> host_to_tile_stream_words(std::span<const HostTransferChunk> chunks) {
  std::vector<std::uint32_t> packet_words;
  packet_words.reserve(chunks.size() * detail::HOST_PACKET_WORDS);
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    HostPacketHeader header = chunks[i].header;
    if (i + 1 != chunks.size()) {
      header.word0 &= ~HOST_TO_TILE_STREAM_END_BITS;
    }
    append_header(packet_words, header);
  }
  return packet_words;
}

}  // namespace

Result<TileToHostProgram> assemble_host_xreq_program_for_targets(
    std::span<const std::uint16_t> target_physical_tiles, std::uint32_t packet_address) {
  if (target_physical_tiles.empty() || !detail::is_host_packet_address(packet_address)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  const Result<XreqBitmap> bitmap = xreq_bitmap(target_physical_tiles);
  if (!bitmap) {
    return std::unexpected(bitmap.error());
  }
  TileToHostProgram program;
  if (const Status send =
          append_send(program.instructions, packet_address, detail::HOST_PACKET_WORDS);
      !send) {
    return std::unexpected(send.error());
  }
  program.instructions.push_back(RETURN_INSTRUCTION);
  program.packet_words.assign(bitmap->begin(), bitmap->end());
  return program;
}

Result<TileToHostProgram> assemble_host_xreq_program(std::uint16_t target_physical_tile,
                                                     std::uint32_t packet_address) {
  return assemble_host_xreq_program_for_targets(std::span(&target_physical_tile, 1),
                                                packet_address);
}

Result<std::vector<std::uint32_t>> tile_to_host_target_instructions(
    std::span<const HostTransferChunk> chunks, std::uint32_t packet_address,
    std::uint32_t close_address) {
  // A misaligned packet or payload would be sent from the word below it.
  if (chunks.empty() || !detail::is_host_packet_address(packet_address) ||
      !detail::is_host_packet_address(close_address) ||
      !std::ranges::all_of(chunks, is_word_aligned_payload)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  std::vector<std::uint32_t> instructions;
  append_word_count(instructions, SINGLE_WORD_COUNT);
  std::uint64_t header_address = packet_address;
  for (const HostTransferChunk& chunk : chunks) {
    if (const Status sent = append_tile_to_host_chunk(instructions, chunk, header_address); !sent) {
      return std::unexpected(sent.error());
    }
    header_address += detail::HOST_PACKET_BYTES;
  }
  if (const Status close = append_send(instructions, close_address, detail::HOST_PACKET_WORDS);
      !close) {
    return std::unexpected(close.error());
  }
  instructions.push_back(detail::HOST_SENDS_SYNC_INSTRUCTION);
  instructions.push_back(RETURN_INSTRUCTION);
  return instructions;
}

Result<TileToHostProgram> assemble_tile_to_host_target_program(
    std::uint16_t physical_tile, std::uint32_t tile_address, std::uint32_t host_offset,
    std::uint32_t bytes, std::uint32_t packet_address, std::uint32_t command_address) {
  const Result<std::vector<HostTransferChunk>> chunks =
      plan_tile_to_host(physical_tile, tile_address, host_offset, bytes);
  if (!chunks) {
    return std::unexpected(chunks.error());
  }
  if (!detail::is_host_packet_address(packet_address)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  TileToHostProgram program;
  program.packet_words.reserve((chunks->size() + 1) * detail::HOST_PACKET_WORDS);
  for (const HostTransferChunk& chunk : *chunks) {
    append_header(program.packet_words, chunk.header);
  }
  // The close packet follows the headers in tile memory.
  const std::uint64_t close_address =
      std::uint64_t{packet_address} + std::uint64_t{WORD_BYTES} * program.packet_words.size();
  if (close_address > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(ExchangeError::host_packet());
  }
  const Result<HostPacketHeader> close = zero_byte_read_packet(physical_tile, command_address);
  if (!close) {
    return std::unexpected(close.error());
  }
  append_header(program.packet_words, *close);
  Result<std::vector<std::uint32_t>> instructions = tile_to_host_target_instructions(
      *chunks, packet_address, static_cast<std::uint32_t>(close_address));
  if (!instructions) {
    return std::unexpected(instructions.error());
  }
  program.instructions = *std::move(instructions);
  return program;
}

Result<TileToHostProgram> assemble_host_to_tile_target_program(std::uint16_t physical_tile,
                                                               std::uint32_t tile_address,
                                                               std::uint32_t host_offset,
                                                               std::uint32_t bytes,
                                                               std::uint32_t packet_address) {
  const Result<std::vector<HostTransferChunk>> chunks =
      plan_host_to_tile(physical_tile, tile_address, host_offset, bytes);
  if (!chunks) {
    return std::unexpected(chunks.error());
  }
  if (!detail::is_host_packet_address(packet_address)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  TileToHostProgram program;
  // Every chunk starts inside the 16 KiB exchange window and holds at most 1024 bytes, so the
  // word count stays far inside the 20 bits of the immediate.
  append_word_count(program.instructions, bytes / WORD_BYTES);
  // The first request is sent from the packet address; each further one follows on from where
  // the previous send ended.
  if (const Status first =
          append_send(program.instructions, packet_address, detail::HOST_PACKET_WORDS);
      !first) {
    return std::unexpected(first.error());
  }
  program.instructions.insert(program.instructions.end(), chunks->size() - 1,
                              send_off(detail::HOST_PACKET_WORDS - 1, detail::BOTH_DIRECTIONS, 0));
  program.instructions.push_back(detail::HOST_SENDS_SYNC_INSTRUCTION);
  program.instructions.push_back(RETURN_INSTRUCTION);
  program.packet_words = host_to_tile_stream_words(*chunks);
  return program;
}

Result<TileToHostProgram> assemble_host_command_read_program(std::uint32_t packet_address,
                                                             std::uint32_t destination_address,
                                                             std::uint32_t host_offset) {
  if (!detail::is_host_packet_address(packet_address)) {
    return std::unexpected(ExchangeError::host_packet());
  }
  const Result<HostPacketHeader> request =
      host_to_tile_packet(COMMAND_READ_TILE, destination_address, host_offset, COMMAND_READ_BYTES);
  if (!request) {
    return std::unexpected(request.error());
  }
  const Result<std::uint32_t> mux = host_mux_for_tile(COMMAND_READ_TILE);
  if (!mux) {
    return std::unexpected(mux.error());
  }
  const Result<XreqBitmap> bitmap = xreq_bitmap(std::span(&COMMAND_READ_TILE, 1));
  if (!bitmap) {
    return std::unexpected(bitmap.error());
  }
  TileToHostProgram program;
  std::vector<std::uint32_t>& instructions = program.instructions;
  instructions.push_back(setzi_m(detail::HOST_SCRATCH_REGISTER, *mux));
  instructions.push_back(put_special_from_m8(detail::INCOMING_MUX_SPECIAL_REGISTER));
  instructions.push_back(SYNC_HOST_INSTRUCTION);
  append_word_count(instructions, SINGLE_WORD_COUNT);
  // The xreq bitmap, then the read request right behind it.
  const std::uint64_t request_address = std::uint64_t{packet_address} + detail::HOST_PACKET_BYTES;
  for (const std::uint64_t address : {std::uint64_t{packet_address}, request_address}) {
    if (const Status sent = append_send(instructions, address, detail::HOST_PACKET_WORDS); !sent) {
      return std::unexpected(sent.error());
    }
  }
  instructions.push_back(detail::HOST_SENDS_SYNC_INSTRUCTION);
  append_local_host_completion(instructions);
  // The forwarding row: the word read from the host goes out again.
  instructions.push_back(ROW_ENTRY_INSTRUCTION);
  instructions.push_back(delay(COMMAND_FORWARD_DELAY_FIELD));
  if (const Status forward = append_send(instructions, destination_address, 1); !forward) {
    return std::unexpected(forward.error());
  }
  instructions.push_back(RETURN_INSTRUCTION);
  program.packet_words = {(*bitmap)[0], (*bitmap)[1], request->word0, request->word1};
  return program;
}

}  // namespace vantle_exchange
