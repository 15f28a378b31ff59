#pragma once

// The bodies of the randomized paired-exchange checks, with their seed as a parameter, so that
// tests can run them over other seeds than the registered one.

#include <cstdint>

namespace vantle_exchange::tests {

void paired_multicasts_preserve_route_relative_timing(std::uint64_t seed);
void coincident_paired_controls_are_rejected(std::uint64_t seed);

}  // namespace vantle_exchange::tests
