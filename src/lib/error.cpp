#include "vantle_exchange/error.hpp"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace vantle_exchange {

std::string_view to_string(ExchangeError::Kind kind) {
  switch (kind) {
    case ExchangeError::Kind::Tile:
      return "Tile";
    case ExchangeError::Kind::DuplicateTile:
      return "DuplicateTile";
    case ExchangeError::Kind::Count:
      return "Count";
    case ExchangeError::Kind::ReceiverSet:
      return "ReceiverSet";
    case ExchangeError::Kind::Schedule:
      return "Schedule";
    case ExchangeError::Kind::PlanOffsetRange:
      return "PlanOffsetRange";
    case ExchangeError::Kind::Address:
      return "Address";
    case ExchangeError::Kind::HostPacket:
      return "HostPacket";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& out, ExchangeError::Kind kind) {
  return out << to_string(kind);
}

std::ostream& operator<<(std::ostream& out, const ExchangeError& error) {
  out << error.kind();
  switch (error.kind()) {
    case ExchangeError::Kind::Tile:
    case ExchangeError::Kind::Count:
    case ExchangeError::Kind::Address:
      return out << '(' << error.value() << ')';
    case ExchangeError::Kind::Schedule:
      return out << "(\"" << error.message() << "\")";
    case ExchangeError::Kind::PlanOffsetRange:
      return out << " { cycles: " << error.cycles() << ", maximum: " << error.maximum() << " }";
    case ExchangeError::Kind::DuplicateTile:
    case ExchangeError::Kind::ReceiverSet:
    case ExchangeError::Kind::HostPacket:
      break;
  }
  return out;
}

std::string to_string(const ExchangeError& error) {
  std::ostringstream out;
  out << error;
  return std::move(out).str();
}

bool is_documented_message(std::string_view text) {
  return std::ranges::find(message::ALL, text) != std::ranges::end(message::ALL);
}

}  // namespace vantle_exchange
