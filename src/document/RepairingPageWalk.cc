#include "document/RepairingPageWalk.h"

#include <utility>

namespace pdfparse::document {

RepairingPageWalk::RepairingPageWalk(QPDF& pdf, Diagnostics diagnostics, Checkpoint checkpoint, PageFound found)
    : PageTreeWalk(RepairPolicy(std::move(diagnostics)), std::move(checkpoint)), pdf_(pdf), found_(std::move(found)) {}

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
  pdf_.replaceObject(page.getObjGen(), QPDFObjectHandle::newNull());
  return true;
}

// A kid that refers to an object the cross-reference table lists but that
// reads as null: libqpdf could not parse it. It stands for a page with
// nothing of its own, below the node that lists it.
bool RepairingPageWalk::standIn(QPDFObjectHandle& kid, QPDFObjectHandle& node, int, QPDFObjectHandle* page) {
  if (!kid.isIndirect() || !kid.isNull()) return false;
  if (!xrefRead_) {
    xrefRead_ = true;
    xref_ = pdf_.getXRefTable();
  }
  auto it = xref_.find(kid.getObjGen());
  if (it == xref_.end() || it->second.getType() == 0) return false;
  *page = QPDFObjectHandle::parse("<< /Type /Page >>");
  page->replaceKey(keys::kParent, node);
  return true;
}

}  // namespace pdfparse::document
