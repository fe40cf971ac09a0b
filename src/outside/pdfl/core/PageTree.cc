#include "outside/pdfl/core/PageTree.h"

#include <qpdf/QPDFObjGen.hh>

#include <set>
#include <unordered_set>

namespace pdfcore {
namespace {

// How often long walks call the checkpoint (in kids visited).
constexpr size_t kCheckpointInterval = 256;
// /Parent chains longer than this are treated as broken.
constexpr int kMaxParentChain = kMaxTreeDepth;

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
  return kid.getKey("/Kids").isArray() ? KidKind::Node : KidKind::Page;
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

  bool started = false;
  bool finished = false;
  std::vector<Frame> stack;
  // Intermediate nodes entered so far, and those on the current path.
  std::unordered_set<QPDFObjGen, ObjGenHash> entered;
  std::unordered_set<QPDFObjGen, ObjGenHash> onPath;
  std::vector<QPDFObjectHandle> pages;
  size_t steps = 0;

  Impl(QPDF& p, Diagnostics d, Checkpoint c)
      : pdf(p), diagnostics(std::move(d)), checkpoint(std::move(c)) {}

  void warn(const std::string& message) {
    if (diagnostics) diagnostics(message);
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
      warn("page tree: deeper than " + std::to_string(kMaxTreeDepth) + " levels at " +
           Describe(node) + "; subtree skipped");
      return false;
    }
    Frame frame;
    frame.node = node;
    frame.kids = node.getKey("/Kids");
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
      pages.push_back(top);
      finished = true;
      return;
    }
    enter(top);
  }

  // Walks on until `wanted` pages are known or the tree is done.
  void walk(size_t wanted) {
    if (!started) start();
    while (!finished && pages.size() < wanted) {
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
      switch (Classify(kid)) {
        case KidKind::Page:
          pages.push_back(kid);
          break;
        case KidKind::Node:
          enter(kid);  // may invalidate `frame`
          break;
        case KidKind::Other:
          warn("page tree: kid " + std::to_string(index) + " of " + Describe(frame.node) +
               " is not a page or page-tree node (" + Describe(kid) + "); skipped");
          break;
      }
    }
    if (finished) {
      stack.clear();
      onPath.clear();
      entered.clear();
    }
  }
};

PageTree::PageTree(QPDF& pdf, Diagnostics diagnostics, Checkpoint checkpoint)
    : impl_(std::make_unique<Impl>(pdf, std::move(diagnostics), std::move(checkpoint))) {}

PageTree::~PageTree() = default;

size_t PageTree::count() {
  impl_->walk(SIZE_MAX);
  return impl_->pages.size();
}

QPDFObjectHandle PageTree::page(size_t index) {
  if (index < SIZE_MAX) impl_->walk(index + 1);
  if (index >= impl_->pages.size()) return QPDFObjectHandle::newNull();
  return impl_->pages[index];
}

QPDFObjectHandle InheritedAttribute(QPDFObjectHandle page, const std::string& key) {
  // Called for every page and box: chains are short, so the first nodes are
  // remembered without allocating.
  constexpr size_t kInline = 16;
  QPDFObjGen near[kInline];
  size_t nearCount = 0;
  std::set<QPDFObjGen> far;
  auto seenBefore = [&](const QPDFObjGen& og) {
    for (size_t i = 0; i < nearCount; ++i) {
      if (near[i] == og) return true;
    }
    if (nearCount < kInline) {
      near[nearCount++] = og;
      return false;
    }
    return !far.insert(og).second;
  };
  QPDFObjectHandle node = page;
  for (int depth = 0; depth <= kMaxParentChain && node.isDictionary(); ++depth) {
    QPDFObjectHandle value = node.getKey(key);
    if (!value.isNull()) return value;
    if (node.isIndirect() && seenBefore(node.getObjGen())) break;
    node = node.getKey("/Parent");
  }
  return QPDFObjectHandle::newNull();
}

}  // namespace pdfcore
