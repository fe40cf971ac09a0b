#include "document/RepairingPageWalk.h"

#include <utility>

namespace pdfparse::document {

RepairingPageWalk::RepairingPageWalk(QPDF& pdf, Diagnostics diagnostics, Checkpoint checkpoint, PageFound found,
                                     ObjectCheck* check)
    : PageTreeWalk(RepairPolicy(std::move(diagnostics), check), std::move(checkpoint)),
      pdf_(pdf),
      found_(std::move(found)),
      check_(check) {}

QPDFObjectHandle RepairingPageWalk::page(size_t index) {
  if (!reach(index) || found_) return QPDFObjectHandle::newNull();
  return kept_[index];
}

QPDFObjectHandle RepairingPageWalk::treeRoot() {
  QPDFObjectHandle trailer = pdf_.getTrailer();
  if (trailer.isDictionary()) {
    QPDFObjectHandle infoRef = trailer.getKey("/Info"), rootRef = trailer.getKey("/Root");
    if (infoRef.isIndirect()) infoId_ = infoRef.getObjGen();
    if (rootRef.isIndirect()) rootId_ = rootRef.getObjGen();
  }
  QPDFObjectHandle root = pdf_.getRoot();
  if (check_ != nullptr) check_->require(root, "the document catalog");
  return root.isDictionary() ? root.getKey(keys::kPages) : QPDFObjectHandle::newNull();
}

bool RepairingPageWalk::pageFound(size_t index, QPDFObjectHandle& page, const Inherited<QPDFObjectHandle>&,
                                  bool mayRelease) {
  if (!found_) {
    kept_.push_back(page);
    return false;
  }
  found_(index, index, page);
  if (!mayRelease || !page.isIndirect() || page.getObjGen() == infoId_ || page.getObjGen() == rootId_) return false;
  // The page is remembered by its id: libqpdf may drop the dictionary.
  if (check_ != nullptr) check_->released(page.getObjGen());
  pdf_.replaceObject(page.getObjGen(), QPDFObjectHandle::newNull());
  return true;
}

}  // namespace pdfparse::document
