#include "document/PageTree.h"

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace pdfparse::document {
namespace {

// How often long walks call the checkpoint (in kids visited).
constexpr size_t kCheckpointInterval = 256;
// /Parent chains longer than this are treated as broken.
constexpr int kMaxParentChain = kMaxTreeDepth;

// The nodes met while climbing /Parent, to stop at a loop. Called for every
// page and box and chains are short, so the first nodes are kept without
// allocating.
class AncestorSet {
 public:
  // True when `og` was met before; otherwise remembers it.
  bool seenBefore(const QPDFObjGen& og) {
    for (size_t i = 0; i < nearCount_; ++i) {
      if (near_[i] == og) return true;
    }
    if (nearCount_ < kInline) {
      near_[nearCount_++] = og;
      return false;
    }
    return !far_.insert(og).second;
  }

 private:
  static constexpr size_t kInline = 16;
  QPDFObjGen near_[kInline];
  size_t nearCount_ = 0;
  std::set<QPDFObjGen> far_;
};

struct ObjGenHash {
  size_t operator()(const QPDFObjGen& og) const {
    return std::hash<long long>()((static_cast<long long>(og.getObj()) << 20) ^ og.getGen());
  }
};

std::string Describe(QPDFObjectHandle& h) {
  if (h.isIndirect()) return "object " + h.getObjGen().unparse(' ');
  return "a direct object";
}

enum class KidKind { Page, Node, Other };

// Classifies a page-tree kid the way viewers do: /Type decides; without
// /Type a kid with a /Kids array is an intermediate node and any other
// dictionary a page.
KidKind Classify(QPDFObjectHandle& kid) {
  if (!kid.isDictionary()) return KidKind::Other;
  QPDFObjectHandle type = kid.getKey("/Type");
  if (type.isName()) {
    std::string name = type.getName();
    if (name == "/Page") return KidKind::Page;
    if (name == "/Pages") return KidKind::Node;
    return KidKind::Other;
  }
  QPDFObjectHandle kids = kid.getKey("/Kids");
  return kids.isArray() || kids.isDictionary() ? KidKind::Node : KidKind::Page;
}

}  // namespace

struct PageTree::Impl {
  struct Frame {
    QPDFObjectHandle node;
    QPDFObjectHandle kids;
    int count = 0;  // items in kids
    int next = 0;   // next kid to look at
    QPDFObjGen og;  // the node's id (0 0 for a direct node)
  };

  QPDF& pdf;
  Diagnostics diagnostics;
  Checkpoint checkpoint;
  PageFound found;

  bool started = false;
  bool finished = false;
  bool cleared = false;
  std::exception_ptr failure;  // what the receiver of pages raised
  std::vector<Frame> stack;
  // Intermediate nodes entered so far, and those on the current path.
  std::unordered_set<QPDFObjGen, ObjGenHash> entered;
  std::unordered_set<QPDFObjGen, ObjGenHash> onPath;
  std::vector<QPDFObjectHandle> pages;  // without `found` only
  size_t pageCount = 0;
  size_t steps = 0;
  // With `found`: page objects already handed over and released, with the
  // place each was first found (+1; 0 for none): by object number for the
  // usual small numbers of generation 0, in a map for the rest.
  std::vector<uint32_t> releasedByNumber;
  std::unordered_map<QPDFObjGen, size_t, ObjGenHash> released;
  // Objects the document needs besides the tree: never released.
  QPDFObjGen infoId, rootId;
  // The cross-reference table, read when a kid reads as null.
  std::map<QPDFObjGen, QPDFXRefEntry> xref;
  bool xrefRead = false;

  void remember(const QPDFObjGen& og, size_t index) {
    const size_t number = static_cast<size_t>(og.getObj());
    // Dense numbering is the rule; a hostile number must not size the vector.
    const size_t limit = 16 * (pageCount + 4096);
    if (og.getGen() == 0 && og.getObj() > 0 && number < limit && index < UINT32_MAX - 1) {
      if (releasedByNumber.size() <= number) releasedByNumber.resize(std::max(number + 1, releasedByNumber.size() * 2));
      releasedByNumber[number] = static_cast<uint32_t>(index + 1);
    } else {
      released.emplace(og, index);
    }
  }

  bool recall(const QPDFObjGen& og, size_t* index) const {
    const size_t number = static_cast<size_t>(og.getObj());
    if (og.getGen() == 0 && og.getObj() > 0 && number < releasedByNumber.size() && releasedByNumber[number] != 0) {
      *index = releasedByNumber[number] - 1;
      return true;
    }
    if (released.empty()) return false;
    auto it = released.find(og);
    if (it == released.end()) return false;
    *index = it->second;
    return true;
  }

  Impl(QPDF& p, Diagnostics d, Checkpoint c, PageFound f)
      : pdf(p), diagnostics(std::move(d)), checkpoint(std::move(c)), found(std::move(f)) {}

  // Records the next page; with `found`, hands it over and (when `release`)
  // lets libqpdf drop the parsed dictionary.
  void addPage(QPDFObjectHandle& page, bool release) {
    const size_t index = pageCount;
    if (!found) {
      pages.push_back(page);
      ++pageCount;
      return;
    }
    handOver(index, index, page);
    ++pageCount;
    if (release && page.isIndirect() && page.getObjGen() != infoId && page.getObjGen() != rootId) {
      const QPDFObjGen og = page.getObjGen();
      remember(og, index);
      pdf.replaceObject(og, QPDFObjectHandle::newNull());
    }
  }

  // A page object found before and released: the same page again.
  bool addReleasedAgain(QPDFObjectHandle& kid) {
    if (!found || !kid.isIndirect()) return false;
    size_t first = 0;
    if (!recall(kid.getObjGen(), &first)) return false;
    handOver(pageCount, first, kid);
    ++pageCount;
    return true;
  }

  // A receiver that fails leaves it without a page: the walk cannot go on
  // without shifting every later page, so it fails from then on.
  void handOver(size_t index, size_t sameAs, QPDFObjectHandle& page) {
    try {
      found(index, sameAs, page);
    } catch (...) {
      failure = std::current_exception();
      throw;
    }
  }

  void warn(const std::string& message) {
    if (diagnostics) diagnostics(message);
  }

  // A kid that refers to an object the cross-reference table lists but
  // that reads as null: libqpdf could not parse it.
  bool unreadable(QPDFObjectHandle& kid) {
    if (!kid.isIndirect() || !kid.isNull()) return false;
    if (!xrefRead) {
      xrefRead = true;
      xref = pdf.getXRefTable();
    }
    auto it = xref.find(kid.getObjGen());
    return it != xref.end() && it->second.getType() != 0;
  }

  // Pushes `node` when it may be walked. Returns false when it is skipped.
  bool enter(QPDFObjectHandle node) {
    QPDFObjGen og = node.isIndirect() ? node.getObjGen() : QPDFObjGen();
    if (og.isIndirect()) {
      if (onPath.count(og)) {
        warn("page tree: " + Describe(node) + " is its own ancestor; loop cut");
        return false;
      }
      if (entered.count(og)) {
        warn("page tree: " + Describe(node) + " is reached a second time; not walked again");
        return false;
      }
    }
    if (static_cast<int>(stack.size()) >= kMaxTreeDepth) {
      warn("page tree: deeper than " + std::to_string(kMaxTreeDepth) + " levels at " + Describe(node) +
           "; subtree skipped");
      return false;
    }
    Frame frame;
    frame.node = node;
    frame.kids = node.getKey("/Kids");
    if (frame.kids.isDictionary()) {
      warn("page tree: the /Kids of " + Describe(node) + " is one object, not an array; read as a list of one");
      frame.kids = QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{frame.kids});
    }
    if (!frame.kids.isArray()) {
      warn("page tree: " + Describe(node) + " has no /Kids array");
      frame.count = 0;
    } else {
      frame.count = frame.kids.getArrayNItems();
    }
    frame.og = og;
    if (og.isIndirect()) {
      entered.insert(og);
      onPath.insert(og);
    }
    stack.push_back(std::move(frame));
    return true;
  }

  void start() {
    started = true;
    QPDFObjectHandle trailer = pdf.getTrailer();
    if (trailer.isDictionary()) {
      QPDFObjectHandle infoRef = trailer.getKey("/Info"), rootRef = trailer.getKey("/Root");
      if (infoRef.isIndirect()) infoId = infoRef.getObjGen();
      if (rootRef.isIndirect()) rootId = rootRef.getObjGen();
    }
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle top = root.isDictionary() ? root.getKey("/Pages") : QPDFObjectHandle::newNull();
    if (!top.isDictionary()) {
      warn("page tree: the catalog has no /Pages dictionary; no pages");
      finished = true;
      return;
    }
    // Some writers put a single page where the tree's root belongs.
    if (!top.getKey("/Kids").isArray() && top.getKey("/Type").isNameAndEquals("/Page")) {
      warn("page tree: /Pages is a page itself; taken as the only page");
      addPage(top, /*release=*/false);
      finished = true;
      return;
    }
    enter(top);
  }

  // Walks on until `wanted` pages are known or the tree is done.
  void walk(size_t wanted) {
    if (failure) std::rethrow_exception(failure);
    if (finished && cleared) return;
    if (!started) start();
    while (!finished && pageCount < wanted) {
      if (stack.empty()) {
        finished = true;
        break;
      }
      Frame& frame = stack.back();
      if (frame.next >= frame.count) {
        if (frame.og.isIndirect()) onPath.erase(frame.og);
        stack.pop_back();
        continue;
      }
      if (checkpoint && (++steps % kCheckpointInterval) == 0) checkpoint();
      int index = frame.next++;
      QPDFObjectHandle kid = frame.kids.getArrayItem(index);
      if (addReleasedAgain(kid)) continue;
      switch (Classify(kid)) {
        case KidKind::Page:
          addPage(kid, /*release=*/true);
          break;
        case KidKind::Node:
          enter(kid);  // may invalidate `frame`
          break;
        case KidKind::Other:
          if (unreadable(kid)) {
            warn("page tree: kid " + std::to_string(index) + " of " + Describe(frame.node) + " (" + Describe(kid) +
                 ") cannot be read; taken as a page with nothing of its own");
            QPDFObjectHandle stand = QPDFObjectHandle::parse("<< /Type /Page >>");
            stand.replaceKey("/Parent", frame.node);
            addPage(stand, /*release=*/false);
            break;
          }
          warn("page tree: kid " + std::to_string(index) + " of " + Describe(frame.node) +
               " is not a page or page-tree node (" + Describe(kid) + "); skipped");
          break;
      }
    }
    if (finished && !cleared) {
      // Done with the walk's bookkeeping: give its memory back now.
      cleared = true;
      std::vector<Frame>().swap(stack);
      decltype(onPath)().swap(onPath);
      decltype(entered)().swap(entered);
      decltype(released)().swap(released);
      decltype(xref)().swap(xref);
      std::vector<uint32_t>().swap(releasedByNumber);
    }
  }
};

PageTree::PageTree(QPDF& pdf, Diagnostics diagnostics, Checkpoint checkpoint, PageFound found)
    : impl_(std::make_unique<Impl>(pdf, std::move(diagnostics), std::move(checkpoint), std::move(found))) {}

PageTree::~PageTree() = default;

size_t PageTree::count() {
  impl_->walk(SIZE_MAX);
  return impl_->pageCount;
}

bool PageTree::reach(size_t index) {
  if (index == SIZE_MAX) return false;
  impl_->walk(index + 1);
  return index < impl_->pageCount;
}

QPDFObjectHandle PageTree::page(size_t index) {
  if (!reach(index) || impl_->found) return QPDFObjectHandle::newNull();
  return impl_->pages[index];
}

QPDFObjectHandle InheritedAttribute(QPDFObjectHandle page, const std::string& key) {
  AncestorSet seen;
  QPDFObjectHandle node = page;
  for (int depth = 0; depth <= kMaxParentChain && node.isDictionary(); ++depth) {
    QPDFObjectHandle value = node.getKey(key);
    if (!value.isNull()) return value;
    if (node.isIndirect() && seen.seenBefore(node.getObjGen())) break;
    node = node.getKey("/Parent");
  }
  return QPDFObjectHandle::newNull();
}

namespace {

const std::string kMediaBoxKey = "/MediaBox";
const std::string kCropBoxKey = "/CropBox";
const std::string kRotateKey = "/Rotate";
const std::string kResourcesKey = "/Resources";
const std::string kParentKey = "/Parent";

bool Missing(QPDFObjectHandle& h) { return !h.isInitialized() || h.isNull(); }

// `node`'s own values where `into` has none.
void TakeOwn(QPDFObjectHandle& node, InheritedAttributes& into) {
  auto take = [&](QPDFObjectHandle& slot, const std::string& key) {
    if (!Missing(slot)) return;
    QPDFObjectHandle value = KeyIfPresent(node, key);
    if (value.isInitialized()) slot = value;
  };
  take(into.mediaBox, kMediaBoxKey);
  take(into.cropBox, kCropBoxKey);
  take(into.rotate, kRotateKey);
  take(into.resources, kResourcesKey);
}

bool Complete(InheritedAttributes& a) {
  return !Missing(a.mediaBox) && !Missing(a.cropBox) && !Missing(a.rotate) && !Missing(a.resources);
}

}  // namespace

QPDFObjectHandle KeyIfPresent(QPDFObjectHandle& dict, const std::string& key) {
  if (!dict.isDictionary() || !dict.hasKey(key)) return QPDFObjectHandle();
  return dict.getKey(key);
}

struct Inheritance::Impl {
  // What each node passes down: its own values over its ancestors'. Only
  // nodes whose whole /Parent chain was read without a loop or the depth
  // bound are kept, so a remembered value is what a fresh climb finds.
  std::unordered_map<QPDFObjGen, InheritedAttributes, ObjGenHash> nodes;
};

Inheritance::Inheritance() : impl_(std::make_unique<Impl>()) {}
Inheritance::~Inheritance() = default;

InheritedAttributes Inheritance::of(QPDFObjectHandle page) {
  InheritedAttributes own;
  if (!page.isDictionary()) return own;
  TakeOwn(page, own);
  if (Complete(own)) return own;

  // The ancestors up to one already known, the top, a loop or the bound.
  AncestorSet seen;
  if (page.isIndirect()) seen.seenBefore(page.getObjGen());
  std::vector<QPDFObjectHandle> chain;
  InheritedAttributes above;
  bool clean = true;
  QPDFObjectHandle node = KeyIfPresent(page, kParentKey);
  for (int depth = 1;; ++depth) {
    if (!node.isInitialized() || !node.isDictionary()) break;
    if (depth > kMaxParentChain) {
      clean = false;
      break;
    }
    if (node.isIndirect()) {
      const QPDFObjGen og = node.getObjGen();
      auto known = impl_->nodes.find(og);
      if (known != impl_->nodes.end()) {
        above = known->second;
        break;
      }
      if (seen.seenBefore(og)) {
        clean = false;
        break;
      }
    }
    chain.push_back(node);
    node = KeyIfPresent(node, kParentKey);
  }
  for (size_t i = chain.size(); i-- > 0;) {
    InheritedAttributes passed;
    TakeOwn(chain[i], passed);
    for (auto [slot, from] : {std::pair{&passed.mediaBox, &above.mediaBox},
                              {&passed.cropBox, &above.cropBox},
                              {&passed.rotate, &above.rotate},
                              {&passed.resources, &above.resources}}) {
      if (Missing(*slot)) *slot = *from;
    }
    above = std::move(passed);
    if (clean && chain[i].isIndirect()) impl_->nodes.emplace(chain[i].getObjGen(), above);
  }
  for (auto [slot, from] : {std::pair{&own.mediaBox, &above.mediaBox},
                            {&own.cropBox, &above.cropBox},
                            {&own.rotate, &above.rotate},
                            {&own.resources, &above.resources}}) {
    if (Missing(*slot)) *slot = *from;
  }
  return own;
}

}  // namespace pdfparse::document
