// Page-tree walk and inherited page attributes over libqpdf, shared by the
// engine (libpdfparse.so) and the converter plug-in (libKestaro.so).
//
// Never trusts /Count. The walk is iterative, carries a visited set and a
// depth bound (a safety net far beyond real files: the path is kept on the
// heap), skips kids that are not page dictionaries, and stops cycles; each
// of those is reported through Diagnostics. Read as peers read them: a
// /Kids that is one dictionary instead of an array is a list of that one,
// and a kid whose object exists but cannot be read (a number out of range
// spoils the whole object) is a page with nothing of its own, taking its
// attributes from the node that lists it. A page object listed twice counts
// twice; an intermediate node reached a second time is not walked again.
// Pages are found lazily: page(0) does not walk the whole tree.
//
// With a PageFound callback the walk hands each page to it and then lets
// libqpdf drop the parsed page dictionary (libqpdf otherwise keeps every
// object it ever read, a few KiB per page): a caller keeps what it needs of
// a page in a compact form, and a document of many pages costs a fraction
// of the memory and the time (memory that is reused needs no new pages from
// the system). Page-tree nodes are kept, and so is a page that is also the
// trailer's /Info or /Root; a page that a damaged file also names as a
// node's /Parent reads as null once released.
#ifndef PDFPARSE_DOCUMENT_PAGETREE_H_
#define PDFPARSE_DOCUMENT_PAGETREE_H_

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pdfparse::document {

// Receives warnings about damaged structure; may be empty.
using Diagnostics = std::function<void(const std::string& message)>;
// Called between steps of long walks; throws to abandon the walk (deadline).
using Checkpoint = std::function<void()>;

// Levels of the page tree, and of /Parent chains, followed at most.
inline constexpr int kMaxTreeDepth = 1 << 20;

class PageTree {
 public:
  // Called once per page in page order. `index` is the page's place,
  // `sameAs` the place where the same page object was first found (index
  // itself for a first finding; a page object listed twice is two pages).
  // `page` reads as the page dictionary only during the call. An exception
  // from it leaves the walk: that call and every later one raise it.
  using PageFound = std::function<void(size_t index, size_t sameAs, QPDFObjectHandle& page)>;

  PageTree(QPDF& pdf, Diagnostics diagnostics = {}, Checkpoint checkpoint = {}, PageFound found = {});
  ~PageTree();
  PageTree(const PageTree&) = delete;
  PageTree& operator=(const PageTree&) = delete;

  // Number of pages; walks the whole tree once (then cached).
  size_t count();
  // Walks on until page `index` (0-based) is found; false when the tree
  // has no such page.
  bool reach(size_t index);
  // The page at `index` (0-based), walking only as far as needed. A null
  // handle when the index is beyond the last page, and always with a
  // PageFound callback (whose pages are released).
  QPDFObjectHandle page(size_t index);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Value of an inheritable page attribute (/Resources, /MediaBox, /CropBox,
// /Rotate): the page's own, else the nearest ancestor's, following /Parent
// with a loop guard. A null handle when none has it.
QPDFObjectHandle InheritedAttribute(QPDFObjectHandle page, const std::string& key);

// `dict`'s value for `key`; a handle that is not initialised when the key
// is absent or null. libqpdf makes a new null object for every absent key
// getKey() is asked for; this does not, which matters once per page.
QPDFObjectHandle KeyIfPresent(QPDFObjectHandle& dict, const std::string& key);

// The four inheritable attributes of a page; a handle that is not
// initialised (or null) where neither the page nor an ancestor has one.
struct InheritedAttributes {
  QPDFObjectHandle mediaBox, cropBox, rotate, resources;
};

// InheritedAttribute for all four at once, remembering what each page-tree
// node passes down (nodes are shared by many pages). Use one per document.
class Inheritance {
 public:
  Inheritance();
  ~Inheritance();
  Inheritance(const Inheritance&) = delete;
  Inheritance& operator=(const Inheritance&) = delete;

  InheritedAttributes of(QPDFObjectHandle page);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_PAGETREE_H_
