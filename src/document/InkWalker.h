// Finds the colorants of the colour spaces defined for a page.
//
// Walks, from the page's inherited resources: /ColorSpace values, /Shading
// spaces, /Pattern (shading patterns' shadings, tiling patterns' resources
// and underlying spaces), /XObject (images' spaces, forms' /Group /CS and
// resources), Type 3 fonts' resources, ExtGState soft masks' groups, and the
// appearance streams of printing annotations. Never decodes a stream. The
// walk keeps its path on the heap and walks each object once per InkWalker
// (use one per document), loops included: objects that reach each other
// share one ink list, so the work is linear in the number of distinct
// objects however many pages share them. A damaged colour space or resource
// is skipped with a diagnostic.
#ifndef PDFPARSE_DOCUMENT_INKWALKER_H_
#define PDFPARSE_DOCUMENT_INKWALKER_H_

#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/PageModel.h"
#include "document/reader/ObjectHandle.h"

namespace pdfparse::document {

struct Ink {
  std::string name;  // decoded colorant name ("PANTONE 185 C")
  bool process;      // Cyan, Magenta, Yellow, Black, or an NChannel /Process component
};

// Objects nested inside each other on one path that the walk follows before
// it gives up on the page: a safety net far beyond real files.
inline constexpr size_t kDefaultMaxInkNesting = 100000;

class InkWalker {
 public:
  explicit InkWalker(Diagnostics diagnostics = {}, Checkpoint checkpoint = {},
                     size_t maxNesting = kDefaultMaxInkNesting);
  ~InkWalker();
  InkWalker(const InkWalker&) = delete;
  InkWalker& operator=(const InkWalker&) = delete;

  // The page's inks beyond the four process inks, each once, in the order
  // the walk finds them. `includeOPI` also reports inks named in OPI
  // dictionaries.
  //
  // Damaged structure never fails the call: the damaged item is skipped and
  // reported through Diagnostics. An exception thrown by the Checkpoint
  // (a deadline) propagates unchanged; nesting deeper than `maxNesting`
  // raises Error kDamaged (the page's inks cannot be told), no memory
  // std::bad_alloc; nothing else leaves this call. Inks of objects that
  // reach each other come in the order the first walk through them found.
  // Colorants listed under an NChannel space's /Process /Components come
  // with process = true; a name found both as process and as spot on one
  // page is reported once, as a spot.
  std::vector<Ink> pageInks(QPDFObjectHandle page, bool includeOPI = false);

  // What the walk reads of a page: its inherited /Resources, its /Group and
  // its /Annots (a handle that is not initialised, or null, when absent).
  // For callers that keep these instead of the page dictionary.
  struct PageParts {
    QPDFObjectHandle resources;
    QPDFObjectHandle group;
    QPDFObjectHandle annots;
  };
  // The same as pageInks(page) for the page these parts come from.
  std::vector<Ink> pageInks(const PageParts& parts, bool includeOPI = false);

  // From now on, an object the walk needs that the file does not hold
  // whole (ObjectCheck) fails the page's call with Error kDamaged naming it,
  // instead of being skipped: the page's inks cannot be told. `check` must
  // outlive the walker; null checks nothing.
  void setObjectCheck(const ObjectCheck* check);

  // Work done so far by this walker, for tests and tuning.
  struct Stats {
    size_t objectsWalked = 0;  // objects read (direct ones each time a page leads to them)
    size_t resourceWalks = 0;  // resource dictionaries among them
    size_t cacheHits = 0;      // objects whose inks came from an earlier walk
  };
  Stats stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The same walk over the structure reader's objects. A Refusal from the
// reader leaves the walk unchanged: the document is then read by libqpdf.
class ReaderInkWalker {
 public:
  explicit ReaderInkWalker(Diagnostics diagnostics = {}, Checkpoint checkpoint = {},
                           size_t maxNesting = kDefaultMaxInkNesting);
  ~ReaderInkWalker();
  ReaderInkWalker(const ReaderInkWalker&) = delete;
  ReaderInkWalker& operator=(const ReaderInkWalker&) = delete;

  struct PageParts {
    reader::ObjectHandle resources;
    reader::ObjectHandle group;
    reader::ObjectHandle annots;
  };
  std::vector<Ink> pageInks(const PageParts& parts, bool includeOPI = false);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_INKWALKER_H_
