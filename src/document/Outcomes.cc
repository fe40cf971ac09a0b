#include "document/Outcomes.h"

#include <deque>
#include <mutex>
#include <utility>

namespace pdfparse::document {
namespace {

// Enough for a tool that asks right after each inquiry.
constexpr size_t kKept = 16;

std::mutex g_mutex;
std::deque<std::pair<std::string, Outcome>> g_outcomes;  // newest last

}  // namespace

void Outcomes::Record(const std::string& path, Outcome outcome) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_outcomes.begin(); it != g_outcomes.end(); ++it) {
    if (it->first == path) {
      g_outcomes.erase(it);
      break;
    }
  }
  g_outcomes.emplace_back(path, std::move(outcome));
  if (g_outcomes.size() > kKept) g_outcomes.pop_front();
}

std::optional<Outcome> Outcomes::Take(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_outcomes.rbegin(); it != g_outcomes.rend(); ++it) {
    if (it->first == path) {
      Outcome outcome = std::move(it->second);
      g_outcomes.erase(std::next(it).base());
      return outcome;
    }
  }
  return std::nullopt;
}

}  // namespace pdfparse::document
