#pragma once

// The bodies of the randomized scheduling checks, with their seed as a parameter, so that tests
// can run them over other seeds than the registered one.

#include <cstdint>

#include "vantle_exchange/row_timing.hpp"

namespace vantle_exchange::tests {

/// Which control a word delivers, independent of its timing.
struct ControlSignature {
  ReceiveEventKind kind;
  std::uint32_t operand;

  friend bool operator==(const ControlSignature&, const ControlSignature&) = default;
};

/// The control of a PIC or XPIC delay word (paired flags and format selectors ignored).
ControlSignature receive_control_signature(std::uint32_t instruction);

/// The control of a SENDPIC word (paired flags and format selectors ignored).
ControlSignature send_control_signature(std::uint32_t instruction);

void internal_receives_leave_the_neutral_mux_selected(std::uint64_t seed);
void mixed_role_programs_fuse_receive_controls_into_sends(std::uint64_t seed);
void receiver_streams_schedule_source_and_pointer_cutovers(std::uint64_t seed);

}  // namespace vantle_exchange::tests
