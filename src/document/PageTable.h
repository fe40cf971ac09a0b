// What the engine keeps of each page of an open document. The page-tree
// walk hands every page here and then lets libqpdf drop the parsed page
// dictionary, so a page costs tens of bytes instead of kilobytes; boxes,
// rotation and the inherited resources are read once, as the walk finds
// the page, and the page queries answer from here.
//
// A query gives the same diagnostics as reading the page afresh would: they
// are kept with the page and handed out by the query they concern, each
// time it is made.
#ifndef PDFPARSE_DOCUMENT_PAGETABLE_H_
#define PDFPARSE_DOCUMENT_PAGETABLE_H_

#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/InkWalker.h"
#include "document/PageModel.h"
#include "document/reader/StrictPageWalk.h"

namespace pdfparse::document {

class PageTable {
 public:
  // The messages a page's queries give, empty when there is none.
  struct Notes {
    std::string media;
    std::string crop;
    std::string rotation;
    std::string printBoxes;  // the bleed, trim and art boxes'
  };

  // A page as the repairing walk finds it (RepairingPageWalk::PageFound),
  // measured here under the RepairPolicy; with `check`, a value the file
  // does not hold whole breaks the page (its queries fail).
  void add(size_t index, size_t sameAs, QPDFObjectHandle& page, const ObjectCheck* check = nullptr);
  // A page as the structure reader measured it (reader::StrictPageWalk::Found).
  void addMeasured(size_t index, size_t sameAs, const reader::MeasuredPage& page);
  // Forgets every page (the document is read again by another path).
  void clear();

  size_t size() const { return slots_.size(); }
  // Page objects behind the size() pages.
  size_t distinctPages() const { return pages_.size(); }
  // Raises again what reading page `index` raised, if anything did: its
  // queries fail as they would have failed reading the page then.
  void check(size_t index) const;
  // Valid for index < size(). Boxes are in default user space units, not
  // scaled by userUnit().
  const Box& mediaBox(size_t index) const { return geometry(index).media; }
  const Box& cropBox(size_t index) const { return geometry(index).crop; }
  // The media, crop, bleed, trim and art boxes and the rest of the rules.
  const PageGeometry& pageGeometry(size_t index) const { return geometry(index); }
  double userUnit(size_t index) const { return geometry(index).userUnit; }
  int rotation(size_t index) const { return geometry(index).rotation; }
  // Null when the page's queries have nothing to report.
  const Notes* notes(size_t index) const;
  InkWalker::PageParts inkParts(size_t index) const;
  // For a page the structure reader measured: its object number, where its
  // resources are, and whether it has a /Group or /Annots.
  uint32_t pageObject(size_t index) const { return page(index).object; }
  reader::ResourcesAt resourcesAt(size_t index) const {
    const Page& p = page(index);
    return reader::ResourcesAt{p.resourcesObject, p.resourcesGen, p.resourcesDirect};
  }
  bool hasExtras(size_t index) const { return page(index).hasExtras; }

 private:
  // Boxes, user unit and rotation: a print job's pages share a few of
  // these, so each distinct one is kept once.
  using Geometry = PageGeometry;
  struct GeometryHash {
    size_t operator()(const Geometry& g) const;
  };
  struct Page {
    uint32_t geometry = 0;
    uint32_t object = 0;
    uint32_t resourcesObject = 0;
    uint16_t resourcesGen = 0;
    bool resourcesDirect = false;
    bool hasNotes = false;
    bool hasExtras = false;  // a /Group or /Annots
  };
  struct Extras {
    QPDFObjectHandle group;
    QPDFObjectHandle annots;
  };

  const Page& page(size_t index) const { return pages_[slots_[index]]; }
  const Geometry& geometry(size_t index) const { return geometries_[page(index).geometry]; }
  uint32_t intern(const Geometry& geometry);

  Inheritance<QPDFObjectHandle> inheritance_;
  // A page object listed many times is one entry of pages_: slots_ maps
  // each page index to it, so a file cannot multiply what a page costs.
  std::vector<uint32_t> slots_;
  std::vector<Page> pages_;
  std::vector<Geometry> geometries_;
  std::unordered_map<Geometry, uint32_t, GeometryHash> geometryIndex_;
  // The inherited /Resources of pages libqpdf read, by entry of pages_.
  std::vector<QPDFObjectHandle> resources_;
  // Few pages have these: kept apart, by entry of pages_.
  std::unordered_map<size_t, Notes> notes_;
  std::unordered_map<size_t, Extras> extras_;
  std::unordered_map<size_t, std::exception_ptr> broken_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_PAGETABLE_H_
