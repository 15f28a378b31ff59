#pragma once

// The logging hook: the library's few debug events go to at most one process-wide subscriber.
//
// No subscriber is installed by default, and then no event is ever built. A caller installs one
// with `set_subscriber` (or `ScopedSubscriber`) from any thread; the subscriber says which
// events it wants through `enabled`, and only those are built and handed to `on_event`.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <source_location>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace vantle_exchange::log {

/// Verbosity, from the most to the least important.
enum class Level : std::uint8_t { Error, Warn, Info, Debug, Trace };

std::ostream& operator<<(std::ostream& out, Level level);

/// What is fixed about one place in the code that emits an event.
struct Callsite {
  std::string_view message;
  std::string_view target;
  Level level;
  std::source_location location;
  std::span<const std::string_view> field_names;
};

/// A field value: an integer, or text rendered from a value's debug form.
using FieldValue = std::variant<std::uint64_t, std::int64_t, std::string>;

std::ostream& operator<<(std::ostream& out, const FieldValue& value);

struct Field {
  std::string_view name;
  FieldValue value;

  friend bool operator==(const Field&, const Field&) = default;
};

/// One event as the subscriber sees it; the fields stand in the order the callsite names them.
struct Event {
  const Callsite& callsite;
  std::span<const Field> fields;
};

struct Subscriber {
  /// Which events to build; an empty function takes every event.
  std::function<bool(const Callsite&)> enabled;
  /// Receives each enabled event, on the thread that emits it.
  std::function<void(const Event&)> on_event;
};

/// Installs `subscriber` process-wide in place of any other; nullptr removes it. Safe from any
/// thread, also while events are being emitted: an event already under way finishes with the
/// subscriber it started with.
void set_subscriber(std::shared_ptr<const Subscriber> subscriber);

/// Installs a subscriber for the lifetime of the object and restores the previous one after.
class ScopedSubscriber {
 public:
  explicit ScopedSubscriber(Subscriber subscriber);
  ~ScopedSubscriber();
  ScopedSubscriber(const ScopedSubscriber&) = delete;
  ScopedSubscriber& operator=(const ScopedSubscriber&) = delete;

 private:
  std::shared_ptr<const Subscriber> previous_;
};

/// The way to the subscriber for one callsite, when the subscriber wants its events.
class EventSink {
 public:
  explicit operator bool() const { return subscriber_ != nullptr; }
  void emit(std::span<const Field> fields) const;
  void emit(std::initializer_list<Field> fields) const {
    emit(std::span<const Field>(fields.begin(), fields.size()));
  }

 private:
  friend EventSink sink_for(const Callsite& callsite);
  EventSink(std::shared_ptr<const Subscriber> subscriber, const Callsite& callsite)
      : subscriber_(std::move(subscriber)), callsite_(&callsite) {}

  std::shared_ptr<const Subscriber> subscriber_;
  const Callsite* callsite_;
};

/// An empty sink unless a subscriber is installed and enabled for `callsite`; build the event's
/// fields only when the sink is not empty.
EventSink sink_for(const Callsite& callsite);

/// Whether an installed subscriber wants the events of `callsite`.
inline bool enabled(const Callsite& callsite) {
  return static_cast<bool>(sink_for(callsite));
}

}  // namespace vantle_exchange::log
