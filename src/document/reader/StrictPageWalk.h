// The page-tree walk of the structure reader: the page-tree walk
// (PageTreeWalk.h) over the reader's objects under the StrictPolicy
// (PageModel.h). It takes only trees it reads exactly as the repairing walk
// over libqpdf would: every kid a reference to a dictionary whose /Type is
// /Page or /Pages and whose /Parent is the node that lists it, boxes and
// rotations that need no default or correction. Anything else raises
// Refusal. Pages are measured as they are found; each node's attributes are
// read once, as the walk enters it.
#ifndef PDFPARSE_DOCUMENT_READER_STRICTPAGEWALK_H_
#define PDFPARSE_DOCUMENT_READER_STRICTPAGEWALK_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "document/PageModel.h"
#include "document/PageTreeWalk.h"
#include "document/reader/ObjectHandle.h"
#include "document/reader/StructureReader.h"

namespace pdfparse::document::reader {

// Where a page's resources are: the object they are (a reference), or the
// page or node whose dictionary holds them directly. num 0: no resources.
struct ResourcesAt {
  uint32_t num = 0;
  uint16_t gen = 0;
  bool direct = false;
};

// What the walk measures of a page.
struct MeasuredPage {
  PageGeometry geometry;
  uint32_t object = 0;  // the page dictionary's object number
  ResourcesAt resources;
  bool extras = false;  // the page has a /Group or /Annots
};

class StrictPageWalk : public PageTreeWalk<StrictPageWalk, ValueHandle, StrictPolicy> {
 public:
  // Called once per page in page order; `sameAs` as in RepairingPageWalk
  // (a page listed again comes with nothing measured).
  using Found = std::function<void(size_t index, size_t sameAs, const MeasuredPage& page)>;

  StrictPageWalk(StructureReader& reader, Found found, Checkpoint checkpoint = {});

 private:
  friend class PageTreeWalk<StrictPageWalk, ValueHandle, StrictPolicy>;

  ValueHandle treeRoot();
  bool pageFound(size_t index, ValueHandle& page, const Inherited<ValueHandle>& passed, bool mayRelease);
  void pageAgain(size_t index, size_t sameAs, ValueHandle&) { found_(index, sameAs, MeasuredPage{}); }
  bool standIn(ValueHandle&, ValueHandle&, int, ValueHandle*) { return false; }
  size_t denseIds(size_t) const { return reader_.objectLimit(); }
  void walked() {}

  StructureReader& reader_;
  Found found_;
};

}  // namespace pdfparse::document::reader

#endif  // PDFPARSE_DOCUMENT_READER_STRICTPAGEWALK_H_
