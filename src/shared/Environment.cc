#include "shared/Environment.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace pdfparse::shared {

std::optional<uint64_t> ParsePositive(std::string_view text) {
  if (text.empty() || text[0] == '-') return std::nullopt;
  const std::string copy(text);  // terminated, for strtoull
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(copy.c_str(), &end, 10);
  if (end == copy.c_str() || *end != '\0' || value == 0 || errno == ERANGE) return std::nullopt;
  return static_cast<uint64_t>(value);
}

uint64_t PositiveOr(const char* text, uint64_t fallback) {
  if (text == nullptr) return fallback;
  return ParsePositive(text).value_or(fallback);
}

}  // namespace pdfparse::shared
