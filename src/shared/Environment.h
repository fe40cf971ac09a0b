// The parsing rules for values read from the environment. Fetching stays
// with the callers (the library reads through the platform layer, so that
// tests can script it); what a value means is decided here.
#ifndef PDFPARSE_SHARED_ENVIRONMENT_H_
#define PDFPARSE_SHARED_ENVIRONMENT_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace pdfparse::shared {

// A positive whole number in decimal, nothing before or after it; nullopt
// for anything else (empty, zero, a sign, other characters, out of range).
std::optional<uint64_t> ParsePositive(std::string_view text);

// ParsePositive of `text`, or `fallback` when `text` is null or not one.
uint64_t PositiveOr(const char* text, uint64_t fallback);

}  // namespace pdfparse::shared

#endif  // PDFPARSE_SHARED_ENVIRONMENT_H_
