#include <gtest/gtest.h>

#include <vector>

#include "checks/seeded_generator.hpp"
#include "host_test_support.hpp"
#include "vantle_exchange/host.hpp"
#include "vantle_exchange/instruction.hpp"

namespace vantle_exchange {
namespace {

using testing_support::describe;
using testing_support::host_packet_error;
using testing_support::send_operand_error;
using Words = std::vector<std::uint32_t>;

Result<TileToHostProgram> program(Words instructions, Words packet_words) {
  return TileToHostProgram{std::move(instructions), std::move(packet_words)};
}

Result<TileToHostProgram> program_error(ExchangeError error) {
  return std::unexpected(error);
}

Result<Words> words_error(ExchangeError error) {
  return std::unexpected(error);
}

struct ProgramCase {
  const char* text;
  Result<TileToHostProgram> actual;
  Result<TileToHostProgram> expected;
};

TEST(HostPrograms, AssembledProgramsOrTheirError) {
  Words many_chunks = {0x19800001, 0x438080A6};
  Words many_packets;
  for (std::uint32_t k = 0; k < 8; ++k) {
    many_chunks.insert(many_chunks.end(), {0x782A02C3 + 0x10 * k, 0x7FEA4003 + 0x200 * k});
    many_packets.insert(many_packets.end(), {0xA0010000, 0x14 + 0x40 * k});
  }
  many_chunks.insert(many_chunks.end(), {0x782A0343, 0x41800000, 0x43A00000});
  many_packets.insert(many_packets.end(), {0xCC01020D, 0});

  const ProgramCase cases[] = {
      {"xreq [31, 81, 768, 1471]",
       assemble_host_xreq_program_for_targets({31, 81, 768, 1471}, 0x50120),
       program({0x782A0243, 0x43A00000}, {0x00000006, 0x00200001})},
      {"xreq 260", assemble_host_xreq_program(260, 0x50120),
       program({0x782A0243, 0x43A00000}, {0x00000100, 0})},
      {"xreq 0", assemble_host_xreq_program(0, 0x50120), program({0x782A0243, 0x43A00000}, {1, 0})},
      {"xreq [0, 0]", assemble_host_xreq_program_for_targets({0, 0}, 0x50120),
       program({0x782A0243, 0x43A00000}, {1, 0})},
      // Index 55, the last bit of the second word.
      {"xreq 1791", assemble_host_xreq_program(1791, 0x50120),
       program({0x782A0243, 0x43A00000}, {0, 0x80000000})},
      {"xreq 1535", assemble_host_xreq_program(1535, 0x50120),
       program({0x782A0243, 0x43A00000}, {0, 0x00800000})},
      // Indices 56 and up have no bit in the two bitmap words.
      {"xreq 1792", assemble_host_xreq_program(1792, 0x50120), program_error(host_packet_error())},
      {"xreq 1794", assemble_host_xreq_program(1794, 0x50120), program_error(host_packet_error())},
      {"xreq 2048", assemble_host_xreq_program(2048, 0x50120), program_error(host_packet_error())},
      {"xreq 4095", assemble_host_xreq_program(4095, 0x50120), program_error(host_packet_error())},
      {"xreq [0, 1792]", assemble_host_xreq_program_for_targets({0, 1792}, 0x50120),
       program_error(host_packet_error())},
      {"xreq 4096", assemble_host_xreq_program(4096, 0x50120), program_error(host_packet_error())},
      {"xreq []", assemble_host_xreq_program_for_targets(std::span<const std::uint16_t>(), 0x50120),
       program_error(host_packet_error())},
      {"xreq at 0x50124", assemble_host_xreq_program(0, 0x50124),
       program_error(host_packet_error())},
      {"xreq at 0x100000", assemble_host_xreq_program(0, 0x100000),
       program_error(send_operand_error())},

      {"t2h 260", assemble_tile_to_host_target_program(260, 0x50120, 0x40, 0x40, 0x50160, 0x50180),
       program({0x19800001, 0x438080A6, 0x782A02C3, 0x79EA0243, 0x40A00001, 0x782A02D3, 0x41800000,
                0x43A00000},
               {0xA0820000, 0x00000011, 0xCC82020C, 0x00000000})},
      {"t2h 2", assemble_tile_to_host_target_program(2, 0x50120, 0x40, 0x40, 0x50160, 0x501A0),
       program({0x19800001, 0x438080A6, 0x782A02C3, 0x79EA0243, 0x40A00001, 0x782A02D3, 0x41800000,
                0x43A00000},
               {0xA0010000, 0x00000011, 0xCC01020D, 0x00000000})},
      {"t2h 2 x 2048", assemble_tile_to_host_target_program(2, 0x52000, 64, 2048, 0x50160, 0x501A0),
       program(many_chunks, many_packets)},
      {"t2h 0 x 100", assemble_tile_to_host_target_program(0, 0x60000, 0, 100, 0x50160, 0x501A0),
       program({0x19800001, 0x438080A6, 0x782A02C3, 0x79EC0003, 0x40A00001, 0x782A02D3, 0x790C0083,
                0x40A00008, 0x782A02E3, 0x41800000, 0x43A00000},
               {0xA0000000, 0x00000001, 0x80000000, 0x00000109, 0xCC00020D, 0})},
      // Planner errors come before the packet address, the packet address before the sends.
      {"t2h planner first", assemble_tile_to_host_target_program(0, 2, 0, 4, 0x100004, 0x50180),
       program_error(host_packet_error())},
      {"t2h packet 0x50164", assemble_tile_to_host_target_program(0, 0, 0, 4, 0x50164, 0x50180),
       program_error(host_packet_error())},
      {"t2h command 0x50184", assemble_tile_to_host_target_program(0, 0, 0, 4, 0x50160, 0x50184),
       program_error(host_packet_error())},
      {"t2h packets past 32 bits",
       assemble_tile_to_host_target_program(0, 0, 0, 4, 0xFFFFFFF8, 0x50180),
       program_error(host_packet_error())},
      {"t2h packet 0xFFFFFFF0",
       assemble_tile_to_host_target_program(0, 0, 0, 4, 0xFFFFFFF0, 0x50180),
       program_error(send_operand_error())},
      {"t2h payload at 0x100000",
       assemble_tile_to_host_target_program(0, 0x100000, 0, 4, 0x50160, 0x50180),
       program_error(send_operand_error())},

      {"h2t 260", assemble_host_to_tile_target_program(260, 0x50120, 0x40, 0x40, 0x50170),
       program({0x19800010, 0x438080A6, 0x782A02E3, 0x41800000, 0x43A00000},
               {0xEC820209, 0x00000011})},
      {"h2t 2", assemble_host_to_tile_target_program(2, 0x50120, 64, 64, 0x50160),
       program({0x19800010, 0x438080A6, 0x782A02C3, 0x41800000, 0x43A00000},
               {0xEC010209, 0x00000011})},
      {"h2t 0", assemble_host_to_tile_target_program(0, 0x50120, 0x40, 0x40, 0x50168),
       program({0x19800010, 0x438080A6, 0x782A02D3, 0x41800000, 0x43A00000},
               {0xEC000209, 0x00000011})},
      {"h2t 63 x 4096", assemble_host_to_tile_target_program(63, 0x50000, 64, 4096, 0x54000),
       program({0x19800400, 0x438080A6, 0x782A8003, 0x70200003, 0x70200003, 0x70200003, 0x70200003,
                0x41800000, 0x43A00000},
               {0xE01F8200, 0x80000010, 0xE01F8220, 0x80000110, 0xE01F8240, 0x80000210, 0xE01F8260,
                0x8000031F, 0xEC1F827E, 0x80000401})},
      {"h2t planner first", assemble_host_to_tile_target_program(0, 0x50004, 0, 4, 0x100000),
       program_error(host_packet_error())},
      {"h2t packet 0x100004", assemble_host_to_tile_target_program(0, 0x50000, 0, 4, 0x100004),
       program_error(host_packet_error())},
      {"h2t packet 0x100000", assemble_host_to_tile_target_program(0, 0x50000, 0, 4, 0x100000),
       program_error(send_operand_error())},

      {"command read", assemble_host_command_read_program(0x50160, 0x50180, 0x1000),
       program({0x19800600, 0x438080A0, 0x4180000F, 0x19800001, 0x438080A6, 0x782A02C3, 0x782A02D3,
                0x41800000, 0x41800007, 0x19800640, 0x438080A0, 0x41800003, 0x40A00048, 0x780A0303,
                0x43A00000},
               {1, 0, 0xCC00020C, 0x00004001})},
      {"command read at 0x50164", assemble_host_command_read_program(0x50164, 0x50180, 0x1000),
       program_error(host_packet_error())},
      {"command read into 0x50184", assemble_host_command_read_program(0x50160, 0x50184, 0x1000),
       program_error(host_packet_error())},
      {"command read from 2", assemble_host_command_read_program(0x50160, 0x50180, 2),
       program_error(host_packet_error())},
      {"command read from 0x20000000",
       assemble_host_command_read_program(0x50160, 0x50180, 0x20000000),
       program_error(host_packet_error())},
      {"command read at 0xFFFFFFF8", assemble_host_command_read_program(0xFFFFFFF8, 0x50180, 0),
       program_error(send_operand_error())},
      {"command read, request at 0x100000", assemble_host_command_read_program(0xFFFF8, 0x50180, 0),
       program_error(send_operand_error())},
  };
  for (const ProgramCase& c : cases) {
    EXPECT_EQ(describe(c.actual), describe(c.expected)) << c.text;
  }
}

struct WordsCase {
  const char* text;
  Result<Words> actual;
  Result<Words> expected;
};

TEST(HostPrograms, WrappedOperationsOrTheirError) {
  const Words xreq = {0x782A0243, 0x43A00000};
  const Words target = {0x19800010, 0x438080A6, 0x782A02E3, 0x41800000, 0x43A00000};
  const Words local = {0x19800010, 0x438080A6, 0x782A02D3, 0x41800000, 0x43A00000};
  const Words no_return = {0x19800010, 0x438080A6, 0x782A02D3};
  const Words one_word_body = {0x19800010, 0x43A00000};
  const Words only_return = {0x43A00000};
  const auto host_target_return =
      words_error(ExchangeError::schedule(message::HOST_TARGET_OPERATION_RETURN));
  const auto local_return =
      words_error(ExchangeError::schedule(message::LOCAL_HOST_OPERATION_RETURN));
  const auto local_prefix =
      words_error(ExchangeError::schedule(message::LOCAL_HOST_OPERATION_PREFIX));

  const WordsCase cases[] = {
      {"xreq on 4", wrap_host_xreq_operation(4, xreq),
       Words{0x19800604, 0x438080A0, 0x4180000F, 0x782A0243, 0x41800007, 0x19800640, 0x438080A0,
             0x43A00000}},
      {"target on 260", wrap_host_target_operation(260, target),
       Words{0x19800604, 0x438080A0, 0x41800007, 0x19800010, 0x438080A6, 0x782A02E3, 0x41800000,
             0x41800007, 0x19800640, 0x438080A0, 0x43A00000}},
      {"own entry sync", wrap_host_operation(63, only_return, 0x41800005),
       Words{0x1980063D, 0x438080A0, 0x41800005, 0x41800007, 0x19800640, 0x438080A0, 0x43A00000}},
      {"no return", wrap_host_target_operation(0, no_return), host_target_return},
      {"empty", wrap_host_xreq_operation(0, Words{}), host_target_return},
      // The return word is tested before the tile.
      {"no return on 4096", wrap_host_operation(4096, no_return, SYNC_ALL_INSTRUCTION),
       host_target_return},
      {"target on 4096", wrap_host_target_operation(4096, target),
       words_error(host_packet_error())},

      {"combined on 0", wrap_combined_host_operation(0, local, 0x50160),
       Words{0x19800600, 0x438080A0, 0x4180000F, 0x19800010, 0x438080A6, 0x782A02C3, 0x782A02D3,
             0x41800000, 0x41800007, 0x19800640, 0x438080A0, 0x43A00000}},
      {"combined on 9", wrap_combined_host_operation(9, local, 0x50160),
       Words{0x19800609, 0x438080A0, 0x4180000F, 0x19800010, 0x438080A6, 0x782A02C3, 0x782A02D3,
             0x41800000, 0x41800007, 0x19800640, 0x438080A0, 0x43A00000}},
      {"combined, two-word body", wrap_combined_host_operation(0, Words{1, 2, 0x43A00000}, 0x50160),
       Words{0x19800600, 0x438080A0, 0x4180000F, 1, 2, 0x782A02C3, 0x41800007, 0x19800640,
             0x438080A0, 0x43A00000}},
      {"combined, no return", wrap_combined_host_operation(0, no_return, 0x50160), local_return},
      {"combined, empty", wrap_combined_host_operation(0, Words{}, 0x50160), local_return},
      {"combined, no return, one word", wrap_combined_host_operation(0, Words{1}, 0x50164),
       local_return},
      {"combined, one-word body", wrap_combined_host_operation(0, one_word_body, 0x50160),
       local_prefix},
      {"combined, no body", wrap_combined_host_operation(0, only_return, 0x50160), local_prefix},
      {"combined at 0x50164", wrap_combined_host_operation(0, local, 0x50164), local_prefix},
      // The prefix is tested before the tile, the tile before the bitmap send.
      {"combined, one-word body on 4096",
       wrap_combined_host_operation(4096, one_word_body, 0x50160), local_prefix},
      {"combined on 4096 at 0x100000", wrap_combined_host_operation(4096, local, 0x100000),
       words_error(host_packet_error())},
      {"combined at 0x100000", wrap_combined_host_operation(0, local, 0x100000),
       words_error(send_operand_error())},
  };
  for (const WordsCase& c : cases) {
    EXPECT_EQ(describe(c.actual), describe(c.expected)) << c.text;
  }
}

TEST(HostPrograms, LocalCompletionExtendsTheProgram) {
  Words instructions = {0x41800003};
  append_local_host_completion(instructions);
  EXPECT_EQ(instructions, (Words{0x41800003, 0x41800007, 0x19800640, 0x438080A0}));
}

TEST(HostPrograms, TileToHostInstructionsOfHandMadeChunks) {
  const HostTransferChunk chunk{0x50120, 0x40, 0x40, {0xA0820000, 0x11}};
  const auto with = [&](HostTransferChunk changed) { return std::vector{chunk, changed}; };
  const WordsCase cases[] = {
      {"one chunk", tile_to_host_target_instructions(std::vector{chunk}, 0x50160, 0x50168),
       Words{0x19800001, 0x438080A6, 0x782A02C3, 0x79EA0243, 0x40A00001, 0x782A02D3, 0x41800000,
             0x43A00000}},
      // Eighteen words need no padding, seventeen one cycle of it.
      {"72 and 68 bytes",
       tile_to_host_target_instructions(
           std::vector<HostTransferChunk>{{0x50120, 0x40, 72, {}}, {0x50200, 0x80, 68, {}}},
           0x50160, 0x50170),
       Words{0x19800001, 0x438080A6, 0x782A02C3, 0x7A2A0243, 0x782A02D3, 0x7A0A0403, 0x40A00000,
             0x782A02E3, 0x41800000, 0x43A00000}},
      {"no chunks", tile_to_host_target_instructions({}, 0x50160, 0x50168),
       words_error(host_packet_error())},
      {"packet 0x50164", tile_to_host_target_instructions(std::vector{chunk}, 0x50164, 0x50168),
       words_error(host_packet_error())},
      {"close 0x5016C", tile_to_host_target_instructions(std::vector{chunk}, 0x50160, 0x5016C),
       words_error(host_packet_error())},
      {"payload off a word",
       tile_to_host_target_instructions(with({0x50202, 0x80, 8, {}}), 0x50160, 0x50170),
       words_error(host_packet_error())},
      {"length off a word",
       tile_to_host_target_instructions(with({0x50200, 0x80, 6, {}}), 0x50160, 0x50170),
       words_error(host_packet_error())},
      {"empty payload",
       tile_to_host_target_instructions(with({0x50200, 0x80, 0, {}}), 0x50160, 0x50170),
       words_error(send_operand_error())},
      {"260-byte payload",
       tile_to_host_target_instructions(with({0x50200, 0x80, 260, {}}), 0x50160, 0x50170),
       words_error(send_operand_error())},
      {"payload at 0x100000",
       tile_to_host_target_instructions(with({0x100000, 0x80, 4, {}}), 0x50160, 0x50170),
       words_error(send_operand_error())},
      // Headers from 0xFFFFFFF8 on are out of reach; the second does not wrap to address 0.
      {"headers past 32 bits", tile_to_host_target_instructions(with(chunk), 0xFFFFFFF8, 0x50170),
       words_error(send_operand_error())},
      {"close at 0x100000", tile_to_host_target_instructions(std::vector{chunk}, 0x50160, 0x100000),
       words_error(send_operand_error())},
  };
  for (const WordsCase& c : cases) {
    EXPECT_EQ(describe(c.actual), describe(c.expected)) << c.text;
  }
}

TEST(HostPrograms, TheirScheduleTextsAreDocumented) {
  for (const std::string_view text :
       {message::HOST_TARGET_OPERATION_RETURN, message::LOCAL_HOST_OPERATION_RETURN,
        message::LOCAL_HOST_OPERATION_PREFIX}) {
    EXPECT_TRUE(is_documented_message(text)) << text;
  }
}

// Whatever the arguments, an assembler returns a program or a documented error.
testing::AssertionResult is_program_or_documented_error(const Result<TileToHostProgram>& result) {
  if (result) {
    if (result->instructions.empty() || result->instructions.back() != RETURN_INSTRUCTION) {
      return testing::AssertionFailure() << "no return word: " << describe(result);
    }
    return testing::AssertionSuccess();
  }
  const ExchangeError& error = result.error();
  if (error.kind() == ExchangeError::Kind::HostPacket ||
      (error.kind() == ExchangeError::Kind::Schedule && is_documented_message(error.message()))) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "undocumented error " << error;
}

std::uint32_t address_near(checks::SeededGenerator& random, std::uint32_t around) {
  return random.boolean() ? around + 4 * random.u32(0, 64) : random.u32_inclusive(0, 0xFFFFFFFF);
}

TEST(HostPrograms, RandomArgumentsGiveProgramsOrDocumentedErrors) {
  checks::SeededGenerator random(0x70726F67);
  for (int iteration = 0; iteration < 1000; ++iteration) {
    const auto tile = static_cast<std::uint16_t>(random.u32(0, 4200));
    const std::uint32_t tile_address = address_near(random, HOST_EXCHANGE_WINDOW_ADDRESS);
    const std::uint32_t host_offset = address_near(random, 0x1000);
    const std::uint32_t bytes =
        random.boolean() ? 4 * random.u32_inclusive(0, 1100) : random.u32(0, 0x4000);
    const std::uint32_t packet_address = address_near(random, 0xFFF00);
    const std::uint32_t command_address = address_near(random, HOST_EXCHANGE_WINDOW_ADDRESS);
    SCOPED_TRACE(testing::Message()
                 << "tile " << tile << ", tile address " << tile_address << ", host offset "
                 << host_offset << ", " << bytes << " bytes, packets at " << packet_address
                 << ", command at " << command_address);
    ASSERT_TRUE(is_program_or_documented_error(assemble_tile_to_host_target_program(
        tile, tile_address, host_offset, bytes, packet_address, command_address)));
    ASSERT_TRUE(is_program_or_documented_error(assemble_host_to_tile_target_program(
        tile, tile_address, host_offset, bytes, packet_address)));
    ASSERT_TRUE(is_program_or_documented_error(
        assemble_host_command_read_program(packet_address, command_address, host_offset)));
    const std::uint16_t targets[] = {tile, static_cast<std::uint16_t>(random.u32(0, 4200))};
    ASSERT_TRUE(is_program_or_documented_error(
        assemble_host_xreq_program_for_targets(targets, packet_address)));
  }
}

}  // namespace
}  // namespace vantle_exchange
