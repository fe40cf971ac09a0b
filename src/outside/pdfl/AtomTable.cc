#include "outside/pdfl/AtomTable.h"

namespace pdfparse::pdfl {

ASAtom AtomTable::findOrAdd(std::string_view text) {
  auto found = byText_.find(text);
  if (found != byText_.end()) return found->second;
  // Next free id; skips 0 and ids still in use once the counter wraps.
  while (next_ == ASAtomNull || byId_.count(next_)) ++next_;
  ASAtom atom = next_++;
  Entry entry;
  entry.text = std::make_unique<std::string>(text);
  std::string_view key(*entry.text);
  byId_.emplace(atom, std::move(entry));
  byText_.emplace(key, atom);
  return atom;
}

ASAtom AtomTable::intern(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ASAtom atom = findOrAdd(text);
  byId_[atom].lasting = true;
  return atom;
}

ASAtom AtomTable::internFor(std::string_view text, Holder& holder) {
  std::lock_guard<std::mutex> lock(mutex_);
  ASAtom atom = findOrAdd(text);
  if (holder.insert(atom).second) ++byId_[atom].holders;
  return atom;
}

void AtomTable::release(Holder& holder) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (ASAtom atom : holder) {
    auto it = byId_.find(atom);
    if (it == byId_.end()) continue;
    Entry& entry = it->second;
    if (entry.holders > 0) --entry.holders;
    if (entry.holders == 0 && !entry.lasting) {
      byText_.erase(std::string_view(*entry.text));
      byId_.erase(it);
    }
  }
  holder.clear();
}

const char* AtomTable::text(ASAtom atom) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = byId_.find(atom);
  return it == byId_.end() ? "" : it->second.text->c_str();
}

size_t AtomTable::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return byId_.size();
}

}  // namespace pdfparse::pdfl
