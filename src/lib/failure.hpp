#pragma once

// The one place where the library builds its fixed-text failures: a breakpoint here catches the
// origin of every `Schedule` error.

#include <expected>
#include <string_view>

#include "vantle_exchange/error.hpp"

namespace vantle_exchange::detail {

/// A `Schedule` failure with one of the fixed texts of `vantle_exchange::message`.
inline std::unexpected<ExchangeError> fail(std::string_view message) {
  return std::unexpected(ExchangeError::schedule(message));
}

}  // namespace vantle_exchange::detail
