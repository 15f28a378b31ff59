// Checks of the point-to-point and multicast plans and their patching.

#include <algorithm>
#include <vector>

#include "checks/check.hpp"
#include "checks/seeded_generator.hpp"
#include "plan_horizon_check.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/plan.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange::tests {
namespace {

struct PointToPointVector {
  std::uint16_t sender;
  std::uint16_t receiver;
  std::uint32_t count;
  Row sender_row;
  Row receiver_row;
};

// Rows of reference transfers on the dorn board, every word of the row.
const PointToPointVector POINT_TO_POINT_VECTORS[] = {
    {0,
     1286,
     3,
     {0x41800003, 0x40A00086, 0x78400001, 0x43A00000, 0, 0, 0, 0, 0},
     {1, 0x41800003, 0x641C0000, 0x64008640, 0x61800000, 0x40A00007, 0x43A00000, 0, 0}},
    {736,
     100,
     52,
     {0x41800003, 0x40A0003E, 0x7E600002, 0x43A00000, 0, 0, 0, 0, 0},
     {1, 0x41800003, 0x641C0000, 0x61D00000, 0x64000640, 0x40A00038, 0x43A00000, 0, 0}},
    {1286,
     1471,
     65,
     {0x41800003, 0x40A0007D, 0x7FE00002, 0x70000002, 0x43A00000, 0, 0, 0, 0},
     {1, 0x41800003, 0x641C0000, 0x61980000, 0x64030640, 0x40A00038, 0x43A00000, 0, 0}},
    {32,
     0,
     4148,
     {0x41800003, 0x40A0006C, 0x7FE00001, 0x766FC001, 0x43A00000, 0, 0, 0, 0},
     {1, 0x41800003, 0x641C0000, 0x61980000, 0x67FFC640, 0x40A00038, 0x43A00000, 0, 0}},
};

}  // namespace

VANTLE_EXCHANGE_CHECK("tests", point_to_point_matches_cpp_oracle_vectors) {
  const Topology topology = Topology::dorn();
  for (const PointToPointVector& vector : POINT_TO_POINT_VECTORS) {
    SCOPED_TRACE(testing::Message()
                 << vector.sender << " -> " << vector.receiver << ", " << vector.count << " words");
    VANTLE_EXCHANGE_MUST(plan,
                         topology.point_to_point(vector.sender, vector.receiver, vector.count));
    ASSERT_EQ(plan.sender, vector.sender_row);
    ASSERT_EQ(plan.receiver, vector.receiver_row);
  }
}

VANTLE_EXCHANGE_CHECK("tests", multicast_matches_cpp_oracle_vectors) {
  const Topology topology = Topology::dorn();
  VANTLE_EXCHANGE_MUST(short_plan, topology.multicast(0, {274, 1286}, 3, 0));
  ASSERT_EQ(short_plan.sender[0], 0x41800003u);
  ASSERT_EQ(short_plan.sender[1], 0x40A00016u);
  ASSERT_EQ(short_plan.sender[2], 0x78400003u);
  ASSERT_EQ(short_plan.receivers[0][1], 0x64000000u);
  ASSERT_EQ(short_plan.receivers[0][2], 0x64008640u);
  ASSERT_EQ(short_plan.receivers[0][3], 0x61814000u);

  VANTLE_EXCHANGE_MUST(long_plan, topology.multicast(736, {100, 900}, 52, 0));
  ASSERT_EQ(long_plan.receivers[0][2], 0x61D14000u);
  ASSERT_EQ(long_plan.receivers[0][3], 0x64000640u);
}

VANTLE_EXCHANGE_CHECK("tests", normalizes_all_sender_address_fields) {
  VANTLE_EXCHANGE_MUST(send, encode_send(1, 3, 106568));
  const std::vector<std::uint32_t> row = {0x41800003, send, 0xF0ED0253, 0x19015000, 0x43A00000};
  const std::vector<std::uint32_t> normalized = normalized_exchange_address_words(row);
  ASSERT_EQ(normalized.size(), row.size());
  ASSERT_EQ(normalized[1] ^ row[1], row[1] & 0x1FFFF8);
  ASSERT_EQ(normalized[2] ^ row[2], row[2] & 0x1FFFF8);
  ASSERT_EQ(normalized[0], row[0]);
  ASSERT_EQ(normalized[4], row[4]);
}

VANTLE_EXCHANGE_CHECK("tests", validates_limits_and_patches_addresses) {
  const Topology topology = Topology::dorn();
  VANTLE_EXCHANGE_MUST_FAIL_WITH(topology.point_to_point(0, 1, 0), ExchangeError::count(0));
  VANTLE_EXCHANGE_MUST_FAIL_WITH(topology.multicast(0, {1, 1}, 1, 0),
                                 ExchangeError::receiver_set());

  VANTLE_EXCHANGE_MUST(plan, topology.multicast(0, {274}, 65, 0));
  VANTLE_EXCHANGE_MUST_SUCCEED(patch_sender_address(plan.sender, 0x52040));
  ASSERT_EQ(plan.sender[2] & 0x1FFFF8, 0xA4080u);

  Row& receiver = plan.receivers[0];
  VANTLE_EXCHANGE_MUST_SUCCEED(patch_receiver_address(receiver, 0x53080));
  ASSERT_EQ(receiver[2] & 0x3FFFF, 0x14C20u);
  VANTLE_EXCHANGE_MUST_SUCCEED(patch_receiver_address(receiver, 0x8F000));
  ASSERT_EQ(receiver[2] & 0x3FFFF, 0x23C00u);
  VANTLE_EXCHANGE_MUST_FAIL_WITH(patch_receiver_address(receiver, 0x100000),
                                 ExchangeError::address(0x100000));
}

VANTLE_EXCHANGE_CHECK("tests", plan_offsets_extend_beyond_route_timing_fields) {
  const Topology topology = Topology::dorn();
  VANTLE_EXCHANGE_MUST(plan, topology.multicast(0, {1, 2}, 4096, 0));
  Row& receiver = plan.receivers[0];
  VANTLE_EXCHANGE_MUST(sender_cycles, plan_event_cycles(plan.sender));
  VANTLE_EXCHANGE_MUST(receiver_cycles, plan_event_cycles(receiver));

  // More than one delay word holds: two are inserted into each row.
  constexpr std::uint32_t offset = 524358;
  VANTLE_EXCHANGE_MUST_SUCCEED(offset_plan(plan.sender, offset));
  VANTLE_EXCHANGE_MUST_SUCCEED(offset_plan(receiver, offset));
  ASSERT_EQ(plan_event_cycles(plan.sender), sender_cycles + offset);
  ASSERT_EQ(plan_event_cycles(receiver), receiver_cycles + offset);
}

VANTLE_EXCHANGE_CHECK("tests", finalizes_point_receiver_for_direct_execution) {
  const Topology topology = Topology::dorn();
  VANTLE_EXCHANGE_MUST(plan, topology.point_to_point(274, 1286, 64));
  VANTLE_EXCHANGE_MUST(source, topology.physical(274));
  VANTLE_EXCHANGE_MUST(executable, finalize_point_receiver(plan.receiver, source));
  ASSERT_EQ(executable[0], 0x41800003u);
  ASSERT_EQ(executable[1] & 0x1FFF, source);
  ASSERT_EQ(source, 9);
  ASSERT_EQ(executable[5], 0x43A00000u);
}

VANTLE_EXCHANGE_CHECK("tests",
                      single_receiver_uses_the_directional_route_for_every_payload_instruction) {
  const Topology topology = Topology::dorn();
  checks::SeededGenerator random(0x726F7574696E67);
  for (int iteration = 0; iteration < 128; ++iteration) {
    const std::uint16_t sender = random.u16(0, topology.tile_count());
    std::uint16_t receiver = random.u16(0, topology.tile_count());
    while (receiver == sender) {
      receiver = random.u16(0, topology.tile_count());
    }
    const std::uint32_t count = random.u32_inclusive(65, 4148);
    SCOPED_TRACE(testing::Message() << sender << " -> " << receiver << ", " << count << " words");

    VANTLE_EXCHANGE_MUST(sender_physical, topology.physical(sender));
    VANTLE_EXCHANGE_MUST(receiver_physical, topology.physical(receiver));
    const std::uint32_t expected = direction(sender_physical, receiver_physical);
    VANTLE_EXCHANGE_MUST(plan, topology.multicast(sender, {receiver}, count, 0));

    // SEND, SENDOFF and SENDPIC words all have bits 31..28 = 0111.
    std::vector<std::uint32_t> controls;
    for (const std::uint32_t word : plan.sender) {
      if ((word >> 28) == 0x7) {
        controls.push_back(word & 7);
      }
    }
    ASSERT_EQ(controls, (std::vector<std::uint32_t>{expected, expected}));
  }
}

VANTLE_EXCHANGE_CHECK("tests", event_horizon_tracks_transfer_size_and_route) {
  const Topology topology = Topology::dorn();
  VANTLE_EXCHANGE_MUST(short_plan, topology.multicast(0, {736, 1286}, 1, 0));
  VANTLE_EXCHANGE_MUST(long_plan, topology.multicast(0, {736, 1286}, 1024, 0));
  std::uint32_t short_horizon = 0;
  std::uint32_t long_horizon = 0;
  ASSERT_NO_FATAL_FAILURE(plan_horizon(short_plan, short_horizon));
  ASSERT_NO_FATAL_FAILURE(plan_horizon(long_plan, long_horizon));
  ASSERT_GT(short_horizon, 0u);
  ASSERT_GT(long_horizon, short_horizon);
  ASSERT_NE(plan_event_cycles(short_plan.receivers[0]), plan_event_cycles(short_plan.receivers[1]));
}

}  // namespace vantle_exchange::tests
