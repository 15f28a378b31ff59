// Many threads at once plan, schedule, finish and validate phases while others install and
// remove a logging subscriber. The library shares nothing but the logging hook, so a
// ThreadSanitizer build of this test must report no data race.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "checks/seeded_generator.hpp"
#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/log.hpp"
#include "vantle_exchange/phase_builder.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

// A phase of random transfers among a few dozen tiles; every program validated.
void build_phase(const Topology& topology, std::uint64_t seed) {
  checks::SeededGenerator random(seed);
  PhaseProgramBuilder builder(topology.tile_count());
  for (int i = 0; i < 24; ++i) {
    const std::uint16_t source = random.u16(0, 40);
    std::vector<std::uint16_t> receivers;
    while (receivers.size() < 2) {
      const std::uint16_t receiver = random.u16(0, 40);
      if (receiver != source && std::ranges::count(receivers, receiver) == 0) {
        receivers.push_back(receiver);
      }
    }
    const std::uint32_t words = random.u32_inclusive(1, 300);
    auto plan = topology.multicast(source, receivers, words, 0);
    ASSERT_TRUE(plan) << plan.error();
    const auto offset = builder.earliest_transfer_offset(source, {}, receivers, *plan, words, 0);
    ASSERT_TRUE(offset) << offset.error();
    ASSERT_TRUE(builder.append_transfer_at(source, {}, receivers, *plan, *offset, words));
  }
  const PhaseProgramBuilder placed = builder;
  const auto phase = std::move(builder).finish();
  ASSERT_TRUE(phase) << phase.error();
  for (std::uint16_t tile = 0; tile < 40; ++tile) {
    if (const auto& program = phase->programs[tile]) {
      ASSERT_TRUE(diagnostic::validate_tile_program(tile, placed.tile_states()[tile], *program));
    }
  }
}

TEST(Concurrency, PhasesAndLoggingOnManyThreads) {
  const Topology topology = Topology::dorn();  // shared, read only
  std::atomic<bool> stop = false;
  std::atomic<std::uint64_t> events = 0;

  std::vector<std::thread> subscribers;
  for (int t = 0; t < 2; ++t) {
    subscribers.emplace_back([&] {
      while (!stop) {
        const log::ScopedSubscriber scope(log::Subscriber{
            .enabled = {},
            .on_event = [&events](const log::Event&) { ++events; },
        });
        std::this_thread::yield();
      }
    });
  }
  std::vector<std::thread> builders;
  for (std::uint64_t t = 0; t < 4; ++t) {
    builders.emplace_back([&topology, t] {
      for (std::uint64_t round = 0; round < 3; ++round) {
        build_phase(topology, 1 + 16 * t + round);
      }
    });
  }
  for (std::thread& builder : builders) {
    builder.join();
  }
  stop = true;
  for (std::thread& subscriber : subscribers) {
    subscriber.join();
  }
  log::set_subscriber(nullptr);
  SUCCEED() << events.load() << " events delivered";
}

}  // namespace
}  // namespace vantle_exchange
