#pragma once

// The named self-checks: each is a descriptor with its qualified name, the place it is defined
// and the function that runs it. The executable's entry point registers them from one table.

#include <gtest/gtest.h>

#include <source_location>
#include <string_view>

namespace vantle_exchange::checks {

struct Check {
  std::string_view suite;  // "tests" beside the core, "diagnostic_tests" beside the diagnostics
  std::string_view name;
  void (*run)();
  std::source_location location;
};

}  // namespace vantle_exchange::checks

/// Defines the check `name` in suite `suite`; the body follows like a function body.
#define VANTLE_EXCHANGE_CHECK(suite, name)                                             \
  void name##_run();                                                                   \
  extern const ::vantle_exchange::checks::Check name{suite, #name, &name##_run,        \
                                                     std::source_location::current()}; \
  void name##_run()

/// Declares `variable` with the value of the result `expression`, or stops the check with a fatal
/// failure that names the expression and its error.
#define VANTLE_EXCHANGE_MUST(variable, expression)                    \
  auto variable##_result = (expression);                              \
  ASSERT_TRUE(variable##_result.has_value())                          \
      << #expression << " failed with " << variable##_result.error(); \
  auto variable = *std::move(variable##_result)

/// Stops the check with a fatal failure when the result `expression` holds an error.
#define VANTLE_EXCHANGE_MUST_SUCCEED(expression)                             \
  do {                                                                       \
    const auto vantle_exchange_result = (expression);                        \
    ASSERT_TRUE(vantle_exchange_result.has_value())                          \
        << #expression << " failed with " << vantle_exchange_result.error(); \
  } while (false)

/// Stops the check with a fatal failure unless the result `expression` holds exactly
/// `expected_error`.
#define VANTLE_EXCHANGE_MUST_FAIL_WITH(expression, expected_error)                   \
  do {                                                                               \
    const auto vantle_exchange_result = (expression);                                \
    ASSERT_FALSE(vantle_exchange_result.has_value()) << #expression << " succeeded"; \
    ASSERT_EQ(vantle_exchange_result.error(), (expected_error)) << #expression;      \
  } while (false)
