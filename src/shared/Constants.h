// Constants that more than one layer uses.
#ifndef PDFPARSE_SHARED_CONSTANTS_H_
#define PDFPARSE_SHARED_CONSTANTS_H_

#include <cstdint>
#include <string_view>

namespace pdfparse::shared {

// The host's fixed password: offered when a document does not open without
// one, by the library's authorisation callback and by the document engine.
inline constexpr const char kHostPassword[] = "marble";

// Documents larger than this are refused: a document is kept in memory
// while it is open.
inline constexpr uint64_t kMaxFileBytes = 2ull << 30;

// The process inks, in the order the library reports them.
inline constexpr const char* kProcessInks[4] = {"Cyan", "Magenta", "Yellow", "Black"};

constexpr bool IsProcessInk(std::string_view name) {
  for (const char* ink : kProcessInks) {
    if (name == ink) return true;
  }
  return false;
}

}  // namespace pdfparse::shared

#endif  // PDFPARSE_SHARED_CONSTANTS_H_
