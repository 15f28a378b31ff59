#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "vantle_exchange/log.hpp"
#include "vantle_exchange/topology.hpp"

namespace vantle_exchange {
namespace {

struct Captured {
  std::string message;
  std::string target;
  log::Level level;
  std::vector<log::Field> fields;
};

// Collects every event of the library while it lives.
class Capture {
 public:
  Capture()
      : scope_(log::Subscriber{
            .enabled = {},
            .on_event =
                [this](const log::Event& event) {
                  const std::lock_guard lock(mutex_);
                  events_.push_back(Captured{std::string(event.callsite.message),
                                             std::string(event.callsite.target),
                                             event.callsite.level,
                                             {event.fields.begin(), event.fields.end()}});
                },
        }) {}

  std::vector<Captured> events() const {
    const std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Captured> events_;
  log::ScopedSubscriber scope_;
};

TEST(PlanEvents, PointToPointEmitsItsFieldsInOrder) {
  const Topology topology = Topology::dorn();
  const Capture capture;
  ASSERT_TRUE(topology.point_to_point(0, 1286, 3));
  const auto events = capture.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].message, "assembled point-to-point exchange");
  EXPECT_EQ(events[0].target, "vantle_exchange");
  EXPECT_EQ(events[0].level, log::Level::Debug);
  const std::vector<log::Field> expected = {
      {"sender_logical", std::uint64_t{0}},
      {"receiver_logical", std::uint64_t{1286}},
      {"count", std::uint64_t{3}},
  };
  EXPECT_EQ(events[0].fields, expected);
}

TEST(PlanEvents, MulticastRecordsTheReceiverListAsText) {
  const Topology topology = Topology::dorn();
  const Capture capture;
  ASSERT_TRUE(topology.multicast(0, {274, 1286}, 3, 7));
  const auto events = capture.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].message, "assembled multicast exchange");
  EXPECT_EQ(events[0].target, "vantle_exchange");
  const std::vector<log::Field> expected = {
      {"sender_logical", std::uint64_t{0}},
      {"receiver_logical", std::string("[274, 1286]")},
      {"count", std::uint64_t{3}},
      {"schedule_offset", std::uint64_t{7}},
  };
  EXPECT_EQ(events[0].fields, expected);
}

TEST(PlanEvents, FailedPlansEmitNothing) {
  const Topology topology = Topology::dorn();
  const Capture capture;
  EXPECT_FALSE(topology.point_to_point(0, 0, 3));
  EXPECT_FALSE(topology.point_to_point(0, 1472, 3));
  EXPECT_FALSE(topology.multicast(0, {1, 1}, 3, 0));
  EXPECT_FALSE(topology.multicast(736, {100, 900}, 52, 4013));
  EXPECT_TRUE(capture.events().empty());
}

TEST(LogHook, SubscriberChoosesTargetsAndLevels) {
  const log::Callsite site{"probe",
                           "vantle_exchange::diagnostic",
                           log::Level::Debug,
                           std::source_location::current(),
                           {}};
  EXPECT_FALSE(log::enabled(site)) << "no subscriber by default";
  {
    const log::ScopedSubscriber only_warnings(log::Subscriber{
        .enabled = [](const log::Callsite& c) { return c.level <= log::Level::Warn; },
        .on_event = [](const log::Event&) {},
    });
    EXPECT_FALSE(log::enabled(site));
  }
  {
    const log::ScopedSubscriber everything(log::Subscriber{
        .enabled = {},
        .on_event = [](const log::Event&) {},
    });
    EXPECT_TRUE(log::enabled(site));
  }
  EXPECT_FALSE(log::enabled(site)) << "the scope removes its subscriber";
}

TEST(LogHook, ThrowingSubscriberDoesNotChangeTheResult) {
  const log::ScopedSubscriber thrower(log::Subscriber{
      .enabled = {},
      .on_event = [](const log::Event&) { throw std::runtime_error("subscriber failure"); },
  });
  const Topology topology = Topology::dorn();
  EXPECT_TRUE(topology.point_to_point(0, 1286, 3));
}

TEST(LogHook, InstallAndRemoveWhilePlansAreBuilt) {
  const Topology topology = Topology::dorn();
  std::atomic<bool> stop = false;
  std::atomic<std::uint64_t> delivered = 0;
  std::vector<std::thread> planners;
  for (int t = 0; t < 3; ++t) {
    planners.emplace_back([&] {
      while (!stop) {
        ASSERT_TRUE(topology.multicast(0, {274, 1286}, 3, 0));
      }
    });
  }
  for (int round = 0; round < 200; ++round) {
    auto subscriber = std::make_shared<const log::Subscriber>(log::Subscriber{
        .enabled = {},
        .on_event = [&delivered](const log::Event&) { ++delivered; },
    });
    log::set_subscriber(std::move(subscriber));
    std::this_thread::yield();
    log::set_subscriber(nullptr);
  }
  stop = true;
  for (std::thread& planner : planners) {
    planner.join();
  }
  EXPECT_FALSE(log::enabled(log::Callsite{
      "probe", "vantle_exchange", log::Level::Debug, std::source_location::current(), {}}));
}

}  // namespace
}  // namespace vantle_exchange
