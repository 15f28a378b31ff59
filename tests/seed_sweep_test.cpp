// The randomized checks assert properties that hold for every draw, not just for their own
// seed: these tests run their bodies over other seeds. VANTLE_EXCHANGE_SEED_SWEEP sets how many
// (a few hundred before trusting a change to a randomized check).

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lib/paired_checks.hpp"
#include "lib/schedule_checks.hpp"

namespace vantle_exchange::tests {
namespace {

std::uint64_t sweep_size() {
  const char* configured = std::getenv("VANTLE_EXCHANGE_SEED_SWEEP");
  return configured != nullptr ? std::stoull(configured) : 12;
}

template <class Body>
void sweep(Body body) {
  for (std::uint64_t seed = 1; seed <= sweep_size(); ++seed) {
    ASSERT_NO_FATAL_FAILURE(body(seed * 0x9E3779B97F4A7C15ull));
  }
}

TEST(SeedSweep, InternalReceivesLeaveTheNeutralMuxSelected) {
  sweep(internal_receives_leave_the_neutral_mux_selected);
}

TEST(SeedSweep, MixedRoleProgramsFuseReceiveControlsIntoSends) {
  sweep(mixed_role_programs_fuse_receive_controls_into_sends);
}

TEST(SeedSweep, ReceiverStreamsScheduleSourceAndPointerCutovers) {
  sweep(receiver_streams_schedule_source_and_pointer_cutovers);
}

TEST(SeedSweep, PairedMulticastsPreserveRouteRelativeTiming) {
  sweep(paired_multicasts_preserve_route_relative_timing);
}

TEST(SeedSweep, CoincidentPairedControlsAreRejected) {
  sweep(coincident_paired_controls_are_rejected);
}

}  // namespace
}  // namespace vantle_exchange::tests
