#pragma once

// A check step shared by the plan and scheduling checks.

#include <algorithm>
#include <cstdint>

#include "checks/check.hpp"
#include "vantle_exchange/plan.hpp"

namespace vantle_exchange::tests {

/// The largest event horizon over the sender row and every receiver row of a plan; a fatal
/// check failure when a row cannot be measured.
inline void plan_horizon(const MulticastPlan& plan, std::uint32_t& horizon) {
  VANTLE_EXCHANGE_MUST(sender, plan_event_cycles(plan.sender));
  horizon = sender;
  for (const Row& receiver : plan.receivers) {
    VANTLE_EXCHANGE_MUST(cycles, plan_event_cycles(receiver));
    horizon = std::max(horizon, cycles);
  }
}

}  // namespace vantle_exchange::tests
