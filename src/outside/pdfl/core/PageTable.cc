#include "outside/pdfl/core/PageTable.h"

#include <new>
#include <stdexcept>
#include <utility>

#include "outside/pdfl/core/WorkBudget.h"

namespace pdfparse::core {
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

void PageTable::add(size_t index, size_t sameAs, QPDFObjectHandle& page) {
  if (index != slots_.size() || sameAs > index) throw std::logic_error("page table: pages out of order");
  if (sameAs != index) {
    slots_.push_back(slots_[sameAs]);
    return;
  }
  if (pages_.size() >= UINT32_MAX) throw std::length_error("page table: too many pages");
  const size_t slot = pages_.size();
  Page entry;
  try {
    InheritedAttributes inherited = inheritance_.of(page);
    Notes notes;
    const Box media = MediaBoxFrom(page, inherited.mediaBox, Into(notes.media));
    const Box crop = CropBoxFrom(page, media, inherited.cropBox, Into(notes.crop));
    entry.rotation = static_cast<int16_t>(RotationFrom(page, inherited.rotate, Into(notes.rotation)));
    entry.media = media;
    entry.crop = crop;
    entry.userUnit = UserUnit(page);
    entry.resources = inherited.resources;
    QPDFObjectHandle group = KeyIfPresent(page, kGroupKey);
    QPDFObjectHandle annots = KeyIfPresent(page, kAnnotsKey);
    if (group.isInitialized() || annots.isInitialized()) {
      extras_.emplace(slot, Extras{group, annots});
      entry.hasExtras = true;
    }
    if (!notes.media.empty() || !notes.crop.empty() || !notes.rotation.empty()) {
      notes_.emplace(slot, std::move(notes));
      entry.hasNotes = true;
    }
  } catch (const WorkLimitExceeded&) {
    throw;  // the walk stops
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    // Only this page's queries fail, with what reading it raised.
    broken_.emplace(slot, std::current_exception());
    extras_.erase(slot);
    notes_.erase(slot);
    entry = Page{};
  }
  pages_.push_back(std::move(entry));
  slots_.push_back(static_cast<uint32_t>(slot));
}

void PageTable::addMeasured(size_t index, size_t sameAs, const reader::MeasuredPage& measured) {
  if (index != slots_.size() || sameAs > index) throw std::logic_error("page table: pages out of order");
  if (sameAs != index) {
    slots_.push_back(slots_[sameAs]);
    return;
  }
  if (pages_.size() >= UINT32_MAX) throw std::length_error("page table: too many pages");
  Page entry;
  entry.media = measured.media;
  entry.crop = measured.crop;
  entry.userUnit = measured.userUnit;
  entry.rotation = static_cast<int16_t>(measured.rotation);
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
  notes_.clear();
  extras_.clear();
  broken_.clear();
}

void PageTable::check(size_t index) const {
  if (index >= slots_.size()) throw std::runtime_error("page " + std::to_string(index + 1) + " is no longer found");
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
  parts.resources = page(index).resources;
  if (page(index).hasExtras) {
    auto it = extras_.find(slots_[index]);
    if (it != extras_.end()) {
      parts.group = it->second.group;
      parts.annots = it->second.annots;
    }
  }
  return parts;
}

}  // namespace pdfparse::core
