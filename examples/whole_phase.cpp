// The README's phase example: two transfers placed in one phase, one program per busy tile.

#include <cstdio>
#include <vantle_exchange/vantle_exchange.hpp>

namespace vx = vantle_exchange;

int main() {
  const vx::Topology board = vx::Topology::dorn();
  auto plan = board.multicast(0, {274, 1286}, 3, 0);
  auto relay = board.multicast(274, {5}, 3, 0);
  if (!plan || !relay) {
    return 1;
  }

  vx::PhaseProgramBuilder phase(board.tile_count());
  const std::vector<std::uint16_t> receivers = {274, 1286};
  auto offset = phase.earliest_transfer_offset(0, {}, receivers, *plan, 3, /*requested=*/0);
  if (!offset || !phase.append_transfer_at(0, {}, receivers, *plan, *offset, 3)) {
    return 1;
  }
  // Tile 274 receives, then sends on: its program holds both.
  const std::vector<std::uint16_t> next = {5};
  offset = phase.earliest_transfer_offset(274, {}, next, *relay, 3, 0);
  if (!offset || !phase.append_transfer_at(274, {}, next, *relay, *offset, 3)) {
    return 1;
  }
  auto programs = std::move(phase).finish();  // one validated program per busy tile
  if (!programs) {
    std::fprintf(stderr, "%s\n", vx::to_string(programs.error()).c_str());
    return 1;
  }
  std::printf("phase of %u cycles\n", programs->event_cycles);
  for (std::size_t tile = 0; tile < programs->programs.size(); ++tile) {
    if (const auto& program = programs->programs[tile]) {
      std::printf("tile %4zu:", tile);
      for (std::uint32_t word : *program)
        std::printf(" %08X", word);
      std::printf("\n");
    }
  }
}
