#include "document/PageTable.h"

#include <new>
#include <stdexcept>
#include <utility>

#include "document/WorkBudget.h"

namespace pdfparse::document {
namespace {

const std::string kGroupKey = "/Group";
const std::string kAnnotsKey = "/Annots";

// A diagnostics sink that keeps the first message in `slot`.
Diagnostics Into(std::string& slot) {
  return [&slot](const std::string& message) {
    if (slot.empty()) slot = message;
  };
}

}  // namespace

void PageTable::add(size_t index, size_t sameAs, QPDFObjectHandle& page, const ObjectCheck* check) {
  if (index != slots_.size() || sameAs > index) throw Error(ErrorCode::kInternal, "page table: pages out of order");
  if (sameAs != index) {
    slots_.push_back(slots_[sameAs]);
    return;
  }
  if (pages_.size() >= UINT32_MAX) throw Error(ErrorCode::kNoMemory, "page table: too many pages");
  const size_t slot = pages_.size();
  Page entry;
  Geometry geometry;
  QPDFObjectHandle resources;
  std::exception_ptr broken;
  try {
    Inherited<QPDFObjectHandle> inherited = inheritance_.of(page, RepairPolicy({}, check));
    Notes notes;
    // Each query's notes apart: the crop box does not repeat the media box's.
    geometry.media = MediaBoxOf(page, inherited.mediaBox, RepairPolicy(Into(notes.media)));
    geometry.crop = CropBoxOf(page, geometry.media, inherited.cropBox, RepairPolicy(Into(notes.crop)));
    MeasurePrintBoxes(page, geometry, RepairPolicy(Into(notes.printBoxes)));
    geometry.rotation = RotationOf(page, inherited.rotate, RepairPolicy(Into(notes.rotation)));
    geometry.userUnit = UserUnitOf(page);
    resources = inherited.resources;
    QPDFObjectHandle group = KeyIfPresent(page, kGroupKey);
    QPDFObjectHandle annots = KeyIfPresent(page, kAnnotsKey);
    if (group.isInitialized() || annots.isInitialized()) {
      extras_.emplace(slot, Extras{group, annots});
      entry.hasExtras = true;
    }
    if (!notes.media.empty() || !notes.crop.empty() || !notes.rotation.empty() || !notes.printBoxes.empty()) {
      notes_.emplace(slot, std::move(notes));
      entry.hasNotes = true;
    }
  } catch (const Error& e) {
    if (e.endsInquiry()) throw;  // the walk stops
    broken = std::current_exception();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    broken = std::current_exception();
  }
  if (broken) {
    // Only this page's queries fail, with what reading it raised.
    broken_.emplace(slot, broken);
    extras_.erase(slot);
    notes_.erase(slot);
    entry = Page{};
    geometry = Geometry{};
    resources = QPDFObjectHandle();
  }
  entry.geometry = intern(geometry);
  if (resources_.size() < slot) resources_.resize(slot);
  resources_.push_back(std::move(resources));
  pages_.push_back(entry);
  slots_.push_back(static_cast<uint32_t>(slot));
}

size_t PageTable::GeometryHash::operator()(const Geometry& g) const {
  size_t h = std::hash<int>()(g.rotation);
  for (const Box* b : {&g.media, &g.crop, &g.bleed, &g.trim, &g.art}) {
    for (double v : {b->llx, b->lly, b->urx, b->ury}) h = h * 1000003u ^ std::hash<double>()(v + 0.0);  // -0 and 0 alike
  }
  return h * 1000003u ^ std::hash<double>()(g.userUnit);
}

uint32_t PageTable::intern(const Geometry& geometry) {
  auto [it, added] = geometryIndex_.try_emplace(geometry, static_cast<uint32_t>(geometries_.size()));
  if (added) geometries_.push_back(geometry);
  return it->second;
}

void PageTable::addMeasured(size_t index, size_t sameAs, const reader::MeasuredPage& measured) {
  if (index != slots_.size() || sameAs > index) throw Error(ErrorCode::kInternal, "page table: pages out of order");
  if (sameAs != index) {
    slots_.push_back(slots_[sameAs]);
    return;
  }
  if (pages_.size() >= UINT32_MAX) throw Error(ErrorCode::kNoMemory, "page table: too many pages");
  Page entry;
  entry.geometry = intern(measured.geometry);
  entry.object = measured.object;
  entry.resourcesObject = measured.resources.num;
  entry.resourcesGen = measured.resources.gen;
  entry.resourcesDirect = measured.resources.direct;
  entry.hasExtras = measured.extras;
  slots_.push_back(static_cast<uint32_t>(pages_.size()));
  pages_.push_back(entry);
}

void PageTable::clear() {
  slots_.clear();
  pages_.clear();
  geometries_.clear();
  geometryIndex_.clear();
  resources_.clear();
  notes_.clear();
  extras_.clear();
  broken_.clear();
}

void PageTable::check(size_t index) const {
  if (index >= slots_.size())
    throw Error(ErrorCode::kDamaged, "page " + std::to_string(index + 1) + " is no longer found");
  if (broken_.empty()) return;
  auto it = broken_.find(slots_[index]);
  if (it != broken_.end()) std::rethrow_exception(it->second);
}

const PageTable::Notes* PageTable::notes(size_t index) const {
  if (!page(index).hasNotes) return nullptr;
  auto it = notes_.find(slots_[index]);
  return it == notes_.end() ? nullptr : &it->second;
}

InkWalker::PageParts PageTable::inkParts(size_t index) const {
  InkWalker::PageParts parts;
  if (slots_[index] < resources_.size()) parts.resources = resources_[slots_[index]];
  if (page(index).hasExtras) {
    auto it = extras_.find(slots_[index]);
    if (it != extras_.end()) {
      parts.group = it->second.group;
      parts.annots = it->second.annots;
    }
  }
  return parts;
}

}  // namespace pdfparse::document
