// The self-check executable: hands the table of named checks to GoogleTest, which filters, runs
// and reports them and sets the exit status.

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "checks/check.hpp"

namespace vantle_exchange::tests {
extern const checks::Check dorn_mapping_is_a_permutation;
extern const checks::Check encodes_supervisor_send_fields;
extern const checks::Check event_horizon_tracks_transfer_size_and_route;
extern const checks::Check finalizes_point_receiver_for_direct_execution;
extern const checks::Check groups_multi_packet_host_to_tile_as_one_stream_copy;
extern const checks::Check groups_multi_packet_tile_to_host_payloads;
extern const checks::Check host_command_read_encoder_preserves_recovered_packet_and_addresses;
extern const checks::Check host_mux_uses_the_physical_tile_row_endpoint;
extern const checks::Check host_packets_match_recovered_sdk_vectors;
extern const checks::Check host_packets_validate_both_size_classes;
extern const checks::Check host_to_tile_target_preserves_packet_and_request_addresses;
extern const checks::Check host_transfer_planner_covers_unaligned_and_large_ranges;
extern const checks::Check host_xreq_combines_target_endpoint_bits;
extern const checks::Check multicast_matches_cpp_oracle_vectors;
extern const checks::Check normalizes_all_sender_address_fields;
extern const checks::Check plan_offsets_extend_beyond_route_timing_fields;
extern const checks::Check point_to_point_matches_cpp_oracle_vectors;
extern const checks::Check randomized_tile_to_host_packets_observe_the_payload_interval;
extern const checks::Check scalar_instruction_encoders_preserve_operands_and_reject_overflow;
extern const checks::Check single_receiver_uses_the_directional_route_for_every_payload_instruction;
extern const checks::Check target_operations_match_sdk_logical_tile_100_oracle;
extern const checks::Check tile_to_host_target_has_no_controller_xreq_or_sync_wrapper;
extern const checks::Check tile_to_host_target_preserves_packet_and_payload_addresses;
extern const checks::Check validates_limits_and_patches_addresses;
}  // namespace vantle_exchange::tests

namespace {

using vantle_exchange::checks::Check;
namespace tests = vantle_exchange::tests;

// Every check, sorted by qualified name.
const Check* const CHECKS[] = {
    &tests::dorn_mapping_is_a_permutation,
    &tests::encodes_supervisor_send_fields,
    &tests::event_horizon_tracks_transfer_size_and_route,
    &tests::finalizes_point_receiver_for_direct_execution,
    &tests::groups_multi_packet_host_to_tile_as_one_stream_copy,
    &tests::groups_multi_packet_tile_to_host_payloads,
    &tests::host_command_read_encoder_preserves_recovered_packet_and_addresses,
    &tests::host_mux_uses_the_physical_tile_row_endpoint,
    &tests::host_packets_match_recovered_sdk_vectors,
    &tests::host_packets_validate_both_size_classes,
    &tests::host_to_tile_target_preserves_packet_and_request_addresses,
    &tests::host_transfer_planner_covers_unaligned_and_large_ranges,
    &tests::host_xreq_combines_target_endpoint_bits,
    &tests::multicast_matches_cpp_oracle_vectors,
    &tests::normalizes_all_sender_address_fields,
    &tests::plan_offsets_extend_beyond_route_timing_fields,
    &tests::point_to_point_matches_cpp_oracle_vectors,
    &tests::randomized_tile_to_host_packets_observe_the_payload_interval,
    &tests::scalar_instruction_encoders_preserve_operands_and_reject_overflow,
    &tests::single_receiver_uses_the_directional_route_for_every_payload_instruction,
    &tests::target_operations_match_sdk_logical_tile_100_oracle,
    &tests::tile_to_host_target_has_no_controller_xreq_or_sync_wrapper,
    &tests::tile_to_host_target_preserves_packet_and_payload_addresses,
    &tests::validates_limits_and_patches_addresses,
};

class CheckTest : public testing::Test {
 public:
  explicit CheckTest(const Check& check) : check_(check) {}
  void TestBody() override { check_.run(); }

 private:
  const Check& check_;
};

void register_checks(std::span<const Check* const> checks) {
  for (const Check* check : checks) {
    testing::RegisterTest(std::string(check->suite).c_str(), std::string(check->name).c_str(),
                          nullptr, nullptr, check->location.file_name(),
                          static_cast<int>(check->location.line()),
                          [check]() -> testing::Test* { return new CheckTest(*check); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  register_checks(CHECKS);
  return RUN_ALL_TESTS();
}
