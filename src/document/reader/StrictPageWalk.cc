#include "document/reader/StrictPageWalk.h"

#include <utility>

namespace pdfparse::document::reader {
namespace {

const std::string kRootKey = "/Root";
const std::string kGroupKey = "/Group";
const std::string kAnnotsKey = "/Annots";

// Written and not a direct null (a reference is not read).
bool Written(const ValueHandle& value) { return value.isInitialized() && (value.isIndirect() || !value.isNull()); }

}  // namespace

StrictPageWalk::StrictPageWalk(StructureReader& reader, Found found, Checkpoint checkpoint)
    : PageTreeWalk(StrictPolicy(), std::move(checkpoint)), reader_(reader), found_(std::move(found)) {}

// The trailer's /Root and the catalog's /Pages are references.
ValueHandle StrictPageWalk::treeRoot() {
  const ValueHandle trailer(&reader_, &reader_.trailer());
  const ValueHandle root = KeyIfPresent(trailer, kRootKey);
  if (!root.isIndirect()) throw Refusal("the trailer's /Root is not a reference");
  ValueHandle pages = KeyIfPresent(root, keys::kPages);
  if (!pages.isIndirect()) throw Refusal("the catalog's /Pages is not a reference");
  return pages;
}

bool StrictPageWalk::pageFound(size_t index, ValueHandle& page, const Inherited<ValueHandle>& passed, bool) {
  Inherited<ValueHandle> inherited = PassedDown(page, passed, policy());
  MeasuredPage out;
  out.geometry = Measure(page, inherited, policy());
  out.object = static_cast<uint32_t>(page.getObjGen().getObj());
  ValueHandle& resources = inherited.resources;
  if (resources.isIndirect()) {
    const QPDFObjGen og = resources.getObjGen();
    out.resources = ResourcesAt{static_cast<uint32_t>(og.getObj()), static_cast<uint16_t>(og.getGen()), false};
  } else if (resources.isInitialized()) {
    const QPDFObjGen& og = inherited.resourcesHolder;
    out.resources = ResourcesAt{static_cast<uint32_t>(og.getObj()), static_cast<uint16_t>(og.getGen()), true};
  }
  out.extras = Written(KeyIfPresent(page, kGroupKey)) || Written(KeyIfPresent(page, kAnnotsKey));
  found_(index, index, out);
  return true;
}

}  // namespace pdfparse::document::reader
