// The page-tree walk over libqpdf under the RepairPolicy (PageTreeWalk.h,
// PageModel.h), shared by the engine (libpdfparse.so) and the converter
// plug-in (libKestaro.so). Damage is reported through Diagnostics and read
// as peers read it: kids that are not page dictionaries are skipped, loops
// cut, and a /Kids that is one dictionary instead of an array is a list of
// that one. A kid the file does not hold whole (not in the file, cut
// short, unreadable) fails the walk: what page it is, and what follows,
// cannot be told. A page object listed twice counts twice; an
// intermediate node reached a second time is not walked again.
//
// With a PageFound callback the walk hands each page to it and then lets
// libqpdf drop the parsed page dictionary (libqpdf otherwise keeps every
// object it ever read, a few KiB per page): a caller keeps what it needs of
// a page in a compact form, and a document of many pages costs a fraction
// of the memory and the time (memory that is reused needs no new pages from
// the system). Page-tree nodes are kept, and so is a page that is also the
// trailer's /Info or /Root; a page that a damaged file also names as a
// node's /Parent reads as null once released (and is not taken as missing).
#ifndef PDFPARSE_DOCUMENT_REPAIRINGPAGEWALK_H_
#define PDFPARSE_DOCUMENT_REPAIRINGPAGEWALK_H_

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <functional>
#include <vector>

#include "document/PageModel.h"
#include "document/PageTreeWalk.h"

namespace pdfparse::document {

class RepairingPageWalk : public PageTreeWalk<RepairingPageWalk, QPDFObjectHandle, RepairPolicy> {
 public:
  // Called once per page in page order. `index` is the page's place,
  // `sameAs` the place where the same page object was first found (index
  // itself for a first finding; a page object listed twice is two pages).
  // `page` reads as the page dictionary only during the call. An exception
  // from it leaves the walk: that call and every later one raise it.
  using PageFound = std::function<void(size_t index, size_t sameAs, QPDFObjectHandle& page)>;

  // `check` (may be null) must outlive the walk.
  RepairingPageWalk(QPDF& pdf, Diagnostics diagnostics = {}, Checkpoint checkpoint = {}, PageFound found = {},
                    ObjectCheck* check = nullptr);

  // The page at `index` (0-based), walking only as far as needed. A null
  // handle when the index is beyond the last page, and always with a
  // PageFound callback (whose pages are released).
  QPDFObjectHandle page(size_t index);

 private:
  friend class PageTreeWalk<RepairingPageWalk, QPDFObjectHandle, RepairPolicy>;

  QPDFObjectHandle treeRoot();
  bool pageFound(size_t index, QPDFObjectHandle& page, const Inherited<QPDFObjectHandle>& passed, bool mayRelease);
  void pageAgain(size_t index, size_t sameAs, QPDFObjectHandle& page) { found_(index, sameAs, page); }
  size_t denseIds(size_t pages) const { return 16 * (pages + 4096); }

  QPDF& pdf_;
  PageFound found_;
  std::vector<QPDFObjectHandle> kept_;  // the pages, without `found_` only
  // Objects the document needs besides the tree: never released.
  QPDFObjGen infoId_, rootId_;
  ObjectCheck* check_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_REPAIRINGPAGEWALK_H_
