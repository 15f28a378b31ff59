// Checks of the host packet headers, the transfer planners and the host operation programs.

#include <algorithm>
#include <array>
#include <iterator>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

#include "checks/check.hpp"
#include "checks/seeded_generator.hpp"
#include "vantle_exchange/host.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange::tests {
namespace {

constexpr std::uint32_t HOST_SENDS_SYNC = 0x41800000;

std::array<std::uint32_t, 2> host_packet_words(const HostPacketHeader& header) {
  return {header.word0, header.word1};
}

// The byte address a send word reads from.
constexpr std::uint32_t send_address(std::uint32_t instruction) {
  return ((instruction >> 3) & 0x3FFFF) * 4;
}

constexpr bool is_plain_send(std::uint32_t instruction) {
  return (instruction & LONG_OPCODE_MASK) == SEND_OPCODE;
}

constexpr bool is_send_off_word(std::uint32_t instruction) {
  return (instruction & 0xF8000000) == 0x70000000;
}

std::vector<std::uint32_t> plain_sends(const std::vector<std::uint32_t>& instructions) {
  std::vector<std::uint32_t> sends;
  std::ranges::copy_if(instructions, std::back_inserter(sends), is_plain_send);
  return sends;
}

bool contains(const std::vector<std::uint32_t>& words, std::uint32_t word) {
  return std::ranges::find(words, word) != words.end();
}

std::uint32_t total_bytes(const std::vector<HostTransferChunk>& chunks) {
  return std::accumulate(
      chunks.begin(), chunks.end(), std::uint32_t{0},
      [](std::uint32_t sum, const HostTransferChunk& chunk) { return sum + chunk.bytes; });
}

bool within_one_page(const HostTransferChunk& chunk) {
  return chunk.host_offset / HOST_PAGE_BYTES ==
         (chunk.host_offset + chunk.bytes - 1) / HOST_PAGE_BYTES;
}

}  // namespace

VANTLE_EXCHANGE_CHECK("tests", host_packets_match_recovered_sdk_vectors) {
  ASSERT_EQ(tile_to_host_packet(0, 64, 64), (HostPacketHeader{0xA0000000, 0x00000011}));
  ASSERT_EQ(host_to_tile_packet(0, 0x50120, 64, 64), (HostPacketHeader{0xEC000209, 0x00000011}));
  ASSERT_EQ(zero_byte_read_packet(2, 0x50180), (HostPacketHeader{0xCC01020C, 0x00000000}));
  ASSERT_EQ(tile_to_host_packet(1409, 64, 64), (HostPacketHeader{0xA2C08000, 0x80000011}));
}

VANTLE_EXCHANGE_CHECK("tests", host_packets_validate_both_size_classes) {
  VANTLE_EXCHANGE_MUST_SUCCEED(tile_to_host_packet(0, 4, 4));
  VANTLE_EXCHANGE_MUST_SUCCEED(tile_to_host_packet(0, 0x400, 1024));
  const ExchangeError failure = ExchangeError::host_packet();
  VANTLE_EXCHANGE_MUST_FAIL_WITH(tile_to_host_packet(0, 2, 4), failure);
  VANTLE_EXCHANGE_MUST_FAIL_WITH(tile_to_host_packet(0, 0, 0), failure);
  VANTLE_EXCHANGE_MUST_FAIL_WITH(tile_to_host_packet(0, 0, 1028), failure);
  VANTLE_EXCHANGE_MUST_FAIL_WITH(host_to_tile_packet(0, 0x50124, 0x40, 64), failure);
  VANTLE_EXCHANGE_MUST_FAIL_WITH(host_to_tile_packet(0, 0x54000, 0x40, 64), failure);
  VANTLE_EXCHANGE_MUST_FAIL_WITH(tile_to_host_packet(0x1000, 0, 4), failure);
}

VANTLE_EXCHANGE_CHECK("tests", host_transfer_planner_covers_unaligned_and_large_ranges) {
  VANTLE_EXCHANGE_MUST(d2h, plan_tile_to_host(2, 0x60004, 4, 2200));
  ASSERT_FALSE(d2h.empty());
  ASSERT_EQ(d2h.front().host_offset, 4u);
  ASSERT_EQ(total_bytes(d2h), 2200u);
  for (const HostTransferChunk& chunk : d2h) {
    ASSERT_LE(chunk.bytes, 1024u) << chunk;
    ASSERT_TRUE(within_one_page(chunk)) << chunk;
  }
  for (std::size_t i = 1; i < d2h.size(); ++i) {
    ASSERT_EQ(d2h[i - 1].tile_address + d2h[i - 1].bytes, d2h[i].tile_address) << i;
  }

  VANTLE_EXCHANGE_MUST(paged, plan_tile_to_host(0, 0x60000, 64, 4096));
  ASSERT_EQ(total_bytes(paged), 4096u);
  ASSERT_TRUE(std::ranges::all_of(paged, within_one_page));

  VANTLE_EXCHANGE_MUST(h2d, plan_host_to_tile(1409, 0x50000, 4, 100));
  std::vector<std::uint32_t> lengths;
  std::ranges::transform(h2d, std::back_inserter(lengths), &HostTransferChunk::bytes);
  ASSERT_EQ(lengths, (std::vector<std::uint32_t>{32, 32, 36}));
  ASSERT_EQ(h2d.back().tile_address + 36, 0x50064u);

  VANTLE_EXCHANGE_MUST_FAIL_WITH(plan_host_to_tile(0, 0x50004, 0, 4), ExchangeError::host_packet());
}

VANTLE_EXCHANGE_CHECK("tests", tile_to_host_target_preserves_packet_and_payload_addresses) {
  VANTLE_EXCHANGE_MUST(target,
                       assemble_tile_to_host_target_program(2, 0x50120, 64, 64, 0x50160, 0x501A0));
  VANTLE_EXCHANGE_MUST(header, tile_to_host_packet(2, 64, 64));
  ASSERT_EQ(target.packet_words.size(), 4u);
  ASSERT_TRUE(
      std::ranges::equal(std::span(target.packet_words).first(2), host_packet_words(header)));

  const std::vector<std::uint32_t> sends = plain_sends(target.instructions);
  ASSERT_EQ(sends.size(), 3u);
  ASSERT_EQ(send_address(sends[0]), 0x50160u);
  ASSERT_EQ(send_address(sends[1]), 0x50120u);
  ASSERT_EQ(send_address(sends[2]), 0x50168u);
  ASSERT_EQ(instruction_advance(sends[1]), 16u);

  ASSERT_EQ(target.instructions[0], setzi_m(8, 1));
  const auto payload = std::ranges::find(target.instructions, sends[1]);
  const auto close = std::ranges::find(target.instructions, sends[2]);
  ASSERT_EQ(close - payload, 2);
  ASSERT_EQ(*(payload + 1), delay(1));
}

VANTLE_EXCHANGE_CHECK("tests", randomized_tile_to_host_packets_observe_the_payload_interval) {
  checks::SeededGenerator random(0x686F73745F706164);
  for (int iteration = 0; iteration < 256; ++iteration) {
    const std::uint32_t host_offset = 4 * random.u32_inclusive(0, 255);
    const std::uint32_t bytes = 4 * random.u32_inclusive(1, 1024);
    SCOPED_TRACE(testing::Message() << "host offset " << host_offset << ", " << bytes << " bytes");
    VANTLE_EXCHANGE_MUST(chunks, plan_tile_to_host(2, 0x52000, host_offset, bytes));
    VANTLE_EXCHANGE_MUST(target, assemble_tile_to_host_target_program(2, 0x52000, host_offset,
                                                                      bytes, 0x50160, 0x501A0));
    const std::vector<std::uint32_t>& instructions = target.instructions;
    std::size_t cursor = 2;
    for (std::size_t chunk = 0; chunk < chunks.size(); ++chunk) {
      cursor += 1;
      ASSERT_LT(cursor, instructions.size()) << "chunk " << chunk;
      const std::uint32_t payload = instruction_advance(instructions[cursor]);
      cursor += 1;
      std::uint32_t pad = 0;
      if (payload < 18) {
        ASSERT_LT(cursor, instructions.size()) << "chunk " << chunk;
        pad = instruction_advance(instructions[cursor]);
        cursor += 1;
      }
      ASSERT_EQ(payload + pad, std::max(payload, 18u)) << "chunk " << chunk;
    }
    ASSERT_EQ(cursor + 3, instructions.size());
  }
}

VANTLE_EXCHANGE_CHECK("tests", tile_to_host_target_has_no_controller_xreq_or_sync_wrapper) {
  VANTLE_EXCHANGE_MUST(
      target, assemble_tile_to_host_target_program(2, 0x50120, 0x40, 0x40, 0x50160, 0x501A0));
  VANTLE_EXCHANGE_MUST(header, tile_to_host_packet(2, 0x40, 0x40));
  ASSERT_EQ(target.packet_words.size(), 4u);
  ASSERT_TRUE(
      std::ranges::equal(std::span(target.packet_words).first(2), host_packet_words(header)));
  ASSERT_FALSE(contains(target.instructions, SYNC_HOST_INSTRUCTION));
  ASSERT_FALSE(contains(target.instructions, SYNC_ALL_INSTRUCTION));
  ASSERT_GE(target.instructions.size(), 2u);
  ASSERT_EQ(target.instructions[target.instructions.size() - 2], HOST_SENDS_SYNC);
}

VANTLE_EXCHANGE_CHECK("tests", groups_multi_packet_tile_to_host_payloads) {
  VANTLE_EXCHANGE_MUST(chunks, plan_tile_to_host(2, 0x52000, 64, 2048));
  ASSERT_EQ(chunks.size(), 8u);
  for (const HostTransferChunk& chunk : chunks) {
    ASSERT_EQ(chunk.bytes, TILE_TO_HOST_MAX_BYTES) << chunk;
  }

  VANTLE_EXCHANGE_MUST(
      target, assemble_tile_to_host_target_program(2, 0x52000, 64, 2048, 0x50160, 0x501A0));
  ASSERT_EQ(target.packet_words.size(), 2 * 8 + 2u);
  ASSERT_EQ(target.instructions[0], setzi_m(8, 1));
  const std::vector<std::uint32_t> sends = plain_sends(target.instructions);
  ASSERT_EQ(sends.size(), 2 * 8 + 1u);
  for (std::size_t i = 1; i < sends.size(); i += 2) {
    ASSERT_EQ(instruction_advance(sends[i]), TILE_TO_HOST_MAX_BYTES / 4) << "send " << i;
  }
}

VANTLE_EXCHANGE_CHECK("tests", host_to_tile_target_preserves_packet_and_request_addresses) {
  VANTLE_EXCHANGE_MUST(plan, assemble_host_to_tile_target_program(2, 0x50120, 64, 64, 0x50160));
  VANTLE_EXCHANGE_MUST(header, host_to_tile_packet(2, 0x50120, 64, 64));
  ASSERT_TRUE(std::ranges::equal(plan.packet_words, host_packet_words(header)));
  const std::vector<std::uint32_t> sends = plain_sends(plan.instructions);
  ASSERT_EQ(sends.size(), 1u);
  ASSERT_EQ(send_address(sends[0]), 0x50160u);
  ASSERT_GE(plan.instructions.size(), 2u);
  ASSERT_EQ(plan.instructions[plan.instructions.size() - 2], HOST_SENDS_SYNC);
  ASSERT_FALSE(contains(plan.instructions, SYNC_HOST_INSTRUCTION));
  ASSERT_FALSE(contains(plan.instructions, SYNC_ALL_INSTRUCTION));
}

VANTLE_EXCHANGE_CHECK("tests", groups_multi_packet_host_to_tile_as_one_stream_copy) {
  VANTLE_EXCHANGE_MUST(chunks, plan_host_to_tile(63, 0x50000, 64, 4096));
  VANTLE_EXCHANGE_MUST(plan, assemble_host_to_tile_target_program(63, 0x50000, 64, 4096, 0x54000));
  ASSERT_FALSE(chunks.empty());
  ASSERT_EQ(plan.packet_words.size(), 2 * chunks.size());
  for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
    ASSERT_EQ(plan.packet_words[2 * i] & HOST_TO_TILE_STREAM_END_BITS, 0u) << "header " << i;
  }
  ASSERT_EQ(plan.packet_words[2 * (chunks.size() - 1)] & HOST_TO_TILE_STREAM_END_BITS,
            HOST_TO_TILE_STREAM_END_BITS);
  ASSERT_EQ(static_cast<std::size_t>(std::ranges::count_if(plan.instructions, is_send_off_word)),
            chunks.size() - 1);
}

VANTLE_EXCHANGE_CHECK("tests", host_command_read_encoder_preserves_recovered_packet_and_addresses) {
  VANTLE_EXCHANGE_MUST(program, assemble_host_command_read_program(0x50160, 0x50180, 0x1000));
  ASSERT_EQ(program.packet_words, (std::vector<std::uint32_t>{1, 0, 0xCC00020C, 0x00004001}));
  ASSERT_GE(program.instructions.size(), 7u);
  ASSERT_EQ(send_address(program.instructions[5]), 0x50160u);
  ASSERT_EQ(send_address(program.instructions[6]), 0x50168u);
  ASSERT_EQ(send_address(program.instructions[program.instructions.size() - 2]), 0x50180u);
}

VANTLE_EXCHANGE_CHECK("tests", host_mux_uses_the_physical_tile_row_endpoint) {
  const std::pair<std::uint16_t, std::uint32_t> cases[] = {{116, 1588}, {582, 1540}, {1173, 1557}};
  for (const auto& [tile, expected] : cases) {
    ASSERT_EQ(host_mux_for_tile(tile), expected) << "tile " << tile;
  }
}

VANTLE_EXCHANGE_CHECK("tests", host_xreq_combines_target_endpoint_bits) {
  const std::uint16_t targets[] = {31, 81, 768, 1471};
  VANTLE_EXCHANGE_MUST(combined, assemble_host_xreq_program_for_targets(targets, 0x50120));
  std::vector<std::uint32_t> expected = {0, 0};
  for (const std::uint16_t target : targets) {
    VANTLE_EXCHANGE_MUST(single, assemble_host_xreq_program(target, 0x50120));
    ASSERT_EQ(single.packet_words.size(), 2u) << "target " << target;
    expected[0] |= single.packet_words[0];
    expected[1] |= single.packet_words[1];
  }
  ASSERT_EQ(combined.packet_words, expected);
  VANTLE_EXCHANGE_MUST(first, assemble_host_xreq_program(31, 0x50120));
  ASSERT_EQ(combined.instructions, first.instructions);
}

VANTLE_EXCHANGE_CHECK("tests", target_operations_match_sdk_logical_tile_100_oracle) {
  using Words = std::vector<std::uint32_t>;
  VANTLE_EXCHANGE_MUST(hierarchy, host_hierarchy(260));
  ASSERT_EQ(hierarchy.xreq_physical_tile, 4);

  VANTLE_EXCHANGE_MUST(xreq, assemble_host_xreq_program(260, 0x50120));
  ASSERT_EQ(xreq.instructions, (Words{0x782A0243, 0x43A00000}));
  ASSERT_EQ(xreq.packet_words, (Words{0x00000100, 0}));

  VANTLE_EXCHANGE_MUST(corner, host_hierarchy(31));
  ASSERT_EQ(corner.xreq_physical_tile, 29);

  const std::pair<std::uint16_t, Words> single_targets[] = {
      {31, {2, 0}}, {81, {4, 0}}, {768, {0, 1}}, {1471, {0, 0x200000}}};
  for (const auto& [target, bitmap] : single_targets) {
    VANTLE_EXCHANGE_MUST(single, assemble_host_xreq_program(target, 0x50120));
    ASSERT_EQ(single.packet_words, bitmap) << "target " << target;
  }

  VANTLE_EXCHANGE_MUST(xreq_wrapped, wrap_host_xreq_operation(4, xreq.instructions));
  ASSERT_GE(xreq_wrapped.size(), 3u);
  ASSERT_EQ(Words(xreq_wrapped.begin(), xreq_wrapped.begin() + 3),
            (Words{0x19800604, 0x438080A0, 0x4180000F}));

  VANTLE_EXCHANGE_MUST(
      t2h, assemble_tile_to_host_target_program(260, 0x50120, 0x40, 0x40, 0x50160, 0x50180));
  ASSERT_EQ(t2h.instructions, (Words{0x19800001, 0x438080A6, 0x782A02C3, 0x79EA0243, 0x40A00001,
                                     0x782A02D3, 0x41800000, 0x43A00000}));
  ASSERT_EQ(t2h.packet_words, (Words{0xA0820000, 0x00000011, 0xCC82020C, 0x00000000}));

  VANTLE_EXCHANGE_MUST(h2t,
                       assemble_host_to_tile_target_program(260, 0x50120, 0x40, 0x40, 0x50170));
  ASSERT_EQ(h2t.instructions, (Words{0x19800010, 0x438080A6, 0x782A02E3, 0x41800000, 0x43A00000}));
  ASSERT_EQ(h2t.packet_words, (Words{0xEC820209, 0x00000011}));

  VANTLE_EXCHANGE_MUST(target_wrapped, wrap_host_target_operation(260, h2t.instructions));
  ASSERT_GE(target_wrapped.size(), 4u);
  ASSERT_EQ(Words(target_wrapped.begin(), target_wrapped.begin() + 3),
            (Words{0x19800604, 0x438080A0, 0x41800007}));
  ASSERT_EQ(Words(target_wrapped.end() - 4, target_wrapped.end()),
            (Words{0x41800007, 0x19800640, 0x438080A0, 0x43A00000}));

  VANTLE_EXCHANGE_MUST(local,
                       assemble_host_to_tile_target_program(0, 0x50120, 0x40, 0x40, 0x50168));
  VANTLE_EXCHANGE_MUST(combined, wrap_combined_host_operation(0, local.instructions, 0x50160));
  ASSERT_GE(combined.size(), 6u);
  ASSERT_EQ(Words(combined.begin(), combined.begin() + 3),
            (Words{0x19800600, 0x438080A0, 0x4180000F}));
  VANTLE_EXCHANGE_MUST(combined_on_9, wrap_combined_host_operation(9, local.instructions, 0x50160));
  ASSERT_EQ(combined_on_9[0], 0x19800609u);
  ASSERT_EQ(send_address(combined[5]), 0x50160u);
}

}  // namespace vantle_exchange::tests
