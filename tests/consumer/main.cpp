// A program outside the library's tree: plans a multicast and checks one known word.

#include <cstdio>

#include <vantle_exchange/vantle_exchange.hpp>

int main() {
  const auto topology = vantle_exchange::Topology::dorn();
  const auto plan = topology.multicast(0, {274, 1286}, 3, 0);
  if (!plan || plan->sender[2] != 0x78400003) {
    std::puts("unexpected plan");
    return 1;
  }
  std::puts("consumer ok");
  return 0;
}
