// The self-check executable: hands the table of named checks to GoogleTest, which filters, runs
// and reports them and sets the exit status.

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "checks/check.hpp"

namespace vantle_exchange::diagnostic::tests {
extern const checks::Check paired_control_decoder_preserves_the_pic_selector;
extern const checks::Check sdk_full_duplex_pair_decodes_absolute_send_restart;
extern const checks::Check sdk_receiver_row_decodes_two_word_controls_as_single_instructions;
}  // namespace vantle_exchange::diagnostic::tests

namespace vantle_exchange::tests {
extern const checks::Check dorn_mapping_is_a_permutation;
extern const checks::Check encoder_places_receive_then_send_on_one_event_timeline;
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
extern const checks::Check paired_multicast64_matches_near_reverse_and_far_sdk_rows;
extern const checks::Check paired_send_matches_sdk_full_duplex_oracle;
extern const checks::Check plan_offsets_extend_beyond_route_timing_fields;
extern const checks::Check point_to_point_matches_cpp_oracle_vectors;
extern const checks::Check randomized_coincident_paired_controls_are_rejected;
extern const checks::Check randomized_internal_receives_leave_the_neutral_mux_selected;
extern const checks::Check randomized_mixed_role_programs_fuse_receive_controls_into_sends;
extern const checks::Check randomized_paired_multicasts_preserve_route_relative_timing;
extern const checks::Check randomized_receiver_streams_schedule_source_and_pointer_cutovers;
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
namespace diagnostic_tests = vantle_exchange::diagnostic::tests;
namespace tests = vantle_exchange::tests;

// Every check, sorted by qualified name.
const Check* const CHECKS[] = {
    &diagnostic_tests::paired_control_decoder_preserves_the_pic_selector,
    &diagnostic_tests::sdk_full_duplex_pair_decodes_absolute_send_restart,
    &diagnostic_tests::sdk_receiver_row_decodes_two_word_controls_as_single_instructions,
    &tests::dorn_mapping_is_a_permutation,
    &tests::encoder_places_receive_then_send_on_one_event_timeline,
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
    &tests::paired_multicast64_matches_near_reverse_and_far_sdk_rows,
    &tests::paired_send_matches_sdk_full_duplex_oracle,
    &tests::plan_offsets_extend_beyond_route_timing_fields,
    &tests::point_to_point_matches_cpp_oracle_vectors,
    &tests::randomized_coincident_paired_controls_are_rejected,
    &tests::randomized_internal_receives_leave_the_neutral_mux_selected,
    &tests::randomized_mixed_role_programs_fuse_receive_controls_into_sends,
    &tests::randomized_paired_multicasts_preserve_route_relative_timing,
    &tests::randomized_receiver_streams_schedule_source_and_pointer_cutovers,
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
