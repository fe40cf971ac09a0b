// Interned strings of the PDF library. Safe for concurrent use.
//
// Atoms that callers make (ASAtomFromString) stay for the life of the table.
// Atoms the engine makes for names read from a document (colorant names)
// are held by that document and removed when the last document holding
// them closes, so files full of distinct names do not make the table grow
// across inquiries. Ids are not reused until the 32-bit counter wraps; an id
// that is no longer (or never was) in the table reads as "".
#ifndef PDFPARSE_OUTSIDE_PDFL_ATOMTABLE_H_
#define PDFPARSE_OUTSIDE_PDFL_ATOMTABLE_H_

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "outside/pdfl/PdflTypes.h"

namespace pdfparse::pdfl {

class AtomTable {
 public:
  // The atoms a document holds; owned by the document, handed back with
  // release() when it closes.
  using Holder = std::unordered_set<ASAtom>;

  // A lasting atom for `text`.
  ASAtom intern(std::string_view text);
  // An atom for `text` held by `holder` (one reference per holder).
  ASAtom internFor(std::string_view text, Holder& holder);
  // Drops the holder's references; atoms nobody holds any more go.
  void release(Holder& holder);
  // Text of `atom`; "" when unknown. Valid while the atom exists.
  const char* text(ASAtom atom) const;
  size_t size() const;

 private:
  struct Entry {
    std::unique_ptr<std::string> text;  // stable address for text()
    uint32_t holders = 0;
    bool lasting = false;
  };
  ASAtom findOrAdd(std::string_view text);  // mutex held

  mutable std::mutex mutex_;
  std::unordered_map<std::string_view, ASAtom> byText_;  // views into Entry::text
  std::unordered_map<ASAtom, Entry> byId_;
  ASAtom next_ = 1;
};

}  // namespace pdfparse::pdfl

#endif  // PDFPARSE_OUTSIDE_PDFL_ATOMTABLE_H_
