// The page-tree walk of the structure reader. It takes only trees it reads
// exactly as the libqpdf walk (PageTree) would: every kid a reference to a
// dictionary whose /Type is /Page or /Pages and whose /Parent is the node
// that lists it, boxes and rotations that need no default or correction.
// Anything else raises Refusal. The walk is iterative (its path on the
// heap, at most kMaxReaderDepth levels), visits each node once, and finds
// pages lazily.
#ifndef PDFPARSE_DOCUMENT_READER_PAGEWALK_H_
#define PDFPARSE_DOCUMENT_READER_PAGEWALK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "document/PageBoxes.h"
#include "document/reader/StructureReader.h"

namespace pdfparse::document::reader {

inline constexpr size_t kMaxReaderDepth = 4096;

// Where a page's resources are: the object they are (a reference), or the
// page or node whose dictionary holds them directly. num 0: no resources.
struct ResourcesAt {
  uint32_t num = 0;
  uint16_t gen = 0;
  bool direct = false;
};

// What the walk measures of a page.
struct MeasuredPage {
  Box media;
  Box crop;
  double userUnit = 1.0;
  int rotation = 0;
  uint32_t object = 0;  // the page dictionary's object number
  ResourcesAt resources;
  bool extras = false;  // the page has a /Group or /Annots
};

class PageWalk {
 public:
  // Called once per page in page order; `sameAs` as in PageTree.
  using Found = std::function<void(size_t index, size_t sameAs, const MeasuredPage& page)>;
  using Checkpoint = std::function<void()>;

  PageWalk(StructureReader& reader, Found found, Checkpoint checkpoint = {});

  size_t count();
  // Walks on until page `index` is found; false when there is no such page.
  bool reach(size_t index);

 private:
  struct Inherited {
    std::optional<Object> media, crop, rotate;
    ResourcesAt resources;
  };
  struct Frame {
    Ref node;
    std::vector<Ref> kids;
    size_t next = 0;
    Inherited inherited;
  };

  void start();
  void walk(size_t wanted);
  void enter(Ref ref, const Object& node, const Inherited& from);
  void addPage(Ref ref, const Object& page, const Inherited& from);
  // `value` resolved; nullopt when absent or null.
  std::optional<Object> attribute(const Object& dict, const char* key);
  Box box(const Object& value, const char* key);
  // The /Resources of `dict` (object `ref`), when it has one.
  static std::optional<ResourcesAt> ResourcesOf(Ref ref, const Object& dict);

  StructureReader& reader_;
  Found found_;
  Checkpoint checkpoint_;
  bool started_ = false;
  bool finished_ = false;
  size_t pages_ = 0;
  size_t steps_ = 0;
  std::vector<Frame> stack_;
  std::vector<bool> entered_;         // by object number: nodes walked
  std::vector<uint32_t> firstIndex_;  // by object number: 1 + where a page was first found
};

}  // namespace pdfparse::document::reader

#endif  // PDFPARSE_DOCUMENT_READER_PAGEWALK_H_
