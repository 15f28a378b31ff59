// The README's first program: plan a multicast, patch its addresses, print the rows in hex.

#include <cstdio>
#include <vantle_exchange/vantle_exchange.hpp>

namespace vx = vantle_exchange;

int main() {
  const vx::Topology board = vx::Topology::dorn();

  // Logical tile 0 sends 3 words to logical tiles 274 and 1286.
  auto plan = board.multicast(0, {274, 1286}, 3, /*schedule_offset=*/0);
  if (!plan) {
    std::fprintf(stderr, "no plan: %s\n", vx::to_string(plan.error()).c_str());
    return 1;
  }

  // The source words live at byte 0x52040 on the sender; each receiver stores them at 0x53080.
  if (auto sent = vx::patch_sender_address(plan->sender, 0x52040); !sent) {
    std::fprintf(stderr, "%s\n", vx::to_string(sent.error()).c_str());
    return 1;
  }
  for (vx::Row& row : plan->receivers) {
    if (auto received = vx::patch_receiver_address(row, 0x53080); !received) {
      std::fprintf(stderr, "%s\n", vx::to_string(received.error()).c_str());
      return 1;
    }
  }

  auto print = [](const char* name, const vx::Row& row) {
    std::printf("%-10s", name);
    for (std::uint32_t word : row)
      std::printf(" %08X", word);
    std::printf("\n");
  };
  print("sender", plan->sender);
  for (const vx::Row& row : plan->receivers)
    print("receiver", row);
}
