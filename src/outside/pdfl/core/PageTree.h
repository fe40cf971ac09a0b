// Page-tree walk and inherited page attributes over libqpdf, shared by the
// engine (libpdfparse.so) and the converter plug-in (libKestaro.so).
//
// Never trusts /Count. The walk is iterative, carries a visited set and a
// depth bound, skips kids that are not page dictionaries, and stops cycles;
// each of those is reported through Diagnostics. A page object listed twice
// counts twice; an intermediate node reached a second time is not walked
// again. Pages are found lazily: page(0) does not walk the whole tree.
#ifndef PDFPARSE_OUTSIDE_PDFL_CORE_PAGETREE_H_
#define PDFPARSE_OUTSIDE_PDFL_CORE_PAGETREE_H_

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pdfcore {

// Receives warnings about damaged structure; may be empty.
using Diagnostics = std::function<void(const std::string& message)>;
// Called between steps of long walks; throws to abandon the walk (deadline).
using Checkpoint = std::function<void()>;

inline constexpr int kMaxTreeDepth = 4096;  // deep enough for valid files

class PageTree {
 public:
  PageTree(QPDF& pdf, Diagnostics diagnostics = {}, Checkpoint checkpoint = {});
  ~PageTree();
  PageTree(const PageTree&) = delete;
  PageTree& operator=(const PageTree&) = delete;

  // Number of pages; walks the whole tree once (then cached).
  size_t count();
  // The page at `index` (0-based), walking only as far as needed. A null
  // handle when the index is beyond the last page.
  QPDFObjectHandle page(size_t index);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Value of an inheritable page attribute (/Resources, /MediaBox, /CropBox,
// /Rotate): the page's own, else the nearest ancestor's, following /Parent
// with a loop guard. A null handle when none has it.
QPDFObjectHandle InheritedAttribute(QPDFObjectHandle page, const std::string& key);

}  // namespace pdfcore

#endif  // PDFPARSE_OUTSIDE_PDFL_CORE_PAGETREE_H_
