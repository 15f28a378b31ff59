#include "vantle_exchange/log.hpp"

#include <atomic>
#include <mutex>
#include <ostream>

namespace vantle_exchange::log {
namespace {

// The logging hook is the library's only process-wide state. The flag keeps the common case,
// no subscriber at all, free of locks.
struct Hook {
  std::atomic<bool> installed{false};
  std::mutex mutex;
  std::shared_ptr<const Subscriber> subscriber;
};

Hook& hook() {
  static Hook instance;
  return instance;
}

std::shared_ptr<const Subscriber> exchange_subscriber(std::shared_ptr<const Subscriber> next) {
  Hook& h = hook();
  const std::lock_guard lock(h.mutex);
  h.installed.store(next != nullptr, std::memory_order_release);
  h.subscriber.swap(next);
  return next;
}

std::shared_ptr<const Subscriber> current_subscriber() {
  Hook& h = hook();
  if (!h.installed.load(std::memory_order_acquire)) {
    return nullptr;
  }
  const std::lock_guard lock(h.mutex);
  return h.subscriber;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, Level level) {
  switch (level) {
    case Level::Error:
      return out << "ERROR";
    case Level::Warn:
      return out << "WARN";
    case Level::Info:
      return out << "INFO";
    case Level::Debug:
      return out << "DEBUG";
    case Level::Trace:
      return out << "TRACE";
  }
  return out << "UNKNOWN";
}

std::ostream& operator<<(std::ostream& out, const FieldValue& value) {
  std::visit([&out](const auto& v) { out << v; }, value);
  return out;
}

void set_subscriber(std::shared_ptr<const Subscriber> subscriber) {
  exchange_subscriber(std::move(subscriber));
}

ScopedSubscriber::ScopedSubscriber(Subscriber subscriber)
    : previous_(exchange_subscriber(std::make_shared<const Subscriber>(std::move(subscriber)))) {}

ScopedSubscriber::~ScopedSubscriber() {
  exchange_subscriber(std::move(previous_));
}

EventSink sink_for(const Callsite& callsite) {
  auto subscriber = current_subscriber();
  if (subscriber == nullptr || !subscriber->on_event ||
      (subscriber->enabled && !subscriber->enabled(callsite))) {
    subscriber = nullptr;
  }
  return EventSink(std::move(subscriber), callsite);
}

void EventSink::emit(std::span<const Field> fields) const {
  if (subscriber_ == nullptr) {
    return;
  }
  // An event never changes a result, so a subscriber that throws must not unwind the operation
  // that emitted it.
  try {
    subscriber_->on_event(Event{*callsite_, fields});
  } catch (...) {
  }
}

}  // namespace vantle_exchange::log
