// The page-tree walk, written once over either object handle and run under
// a policy (PageModel.h): StrictPageWalk (the structure reader, refusing)
// and RepairingPageWalk (libqpdf, repairing) are its two instances.
//
// Never trusts /Count. The walk is iterative (its path on the heap, at most
// Policy::kMaxDepth levels), finds pages lazily (page 0 does not walk the
// whole tree), enters each node once and cuts loops. A kid is classified
// the way viewers do: /Type decides; without /Type a kid with /Kids is a
// node and any other dictionary a page. A page object listed twice counts
// twice: the second time it is handed over as the same page as the first,
// once remembered. The policy decides on everything else: a loop, a node
// reached twice, the depth bound, /Kids that is not an array, a kid that is
// a reference or not, untyped, listed by a node that is not its /Parent,
// unreadable or neither a page nor a node.
//
// The document side comes from `Walk` (the instance, by CRTP):
//   H treeRoot()                   the catalog's /Pages
//   bool pageFound(index, page, passed, mayRelease)
//                                  hands a page over; true when it is to be
//                                  remembered (a later listing is then the
//                                  same page). `mayRelease` is false for the
//                                  tree's root taken as the page
//   void pageAgain(index, sameAs, page)
//                                  hands over a page listed again
//   size_t denseIds(pages)         object numbers below this are remembered
//                                  in a vector, the rest in a map
// With Policy::kParentIsLister the walk carries what each node passes down
// (`passed`, its own attributes over its parent's); otherwise `passed` is
// empty and the receiver climbs /Parent itself.
#ifndef PDFPARSE_DOCUMENT_PAGETREEWALK_H_
#define PDFPARSE_DOCUMENT_PAGETREEWALK_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <unordered_map>
#include <utility>
#include <vector>

#include "document/PageModel.h"

namespace pdfparse::document {

// Pages already handed over, by object id: the place each was first found.
// Dense numbering is the rule (a vector by number for generation 0); a
// hostile number goes to a map instead of sizing the vector.
class FoundPages {
 public:
  void remember(const QPDFObjGen& og, size_t index, size_t denseLimit) {
    const size_t number = static_cast<size_t>(og.getObj());
    if (og.getGen() == 0 && og.getObj() > 0 && number < denseLimit && index < UINT32_MAX - 1) {
      if (dense_.size() <= number) dense_.resize(std::min(std::max(number + 1, dense_.size() * 2), denseLimit));
      dense_[number] = static_cast<uint32_t>(index + 1);
    } else {
      sparse_.emplace(og, index);
    }
  }
  bool recall(const QPDFObjGen& og, size_t* index) const {
    const size_t number = static_cast<size_t>(og.getObj());
    if (og.getGen() == 0 && og.getObj() > 0 && number < dense_.size() && dense_[number] != 0) {
      *index = dense_[number] - 1;
      return true;
    }
    if (sparse_.empty()) return false;
    auto it = sparse_.find(og);
    if (it == sparse_.end()) return false;
    *index = it->second;
    return true;
  }
  bool empty() const { return dense_.empty() && sparse_.empty(); }
  void release() {
    std::vector<uint32_t>().swap(dense_);
    decltype(sparse_)().swap(sparse_);
  }

 private:
  std::vector<uint32_t> dense_;  // 1 + index; 0: none
  std::unordered_map<QPDFObjGen, size_t, ObjGenHash> sparse_;
};

// The page-tree nodes entered so far, and those on the current path, by
// object id: in a vector by number for generation 0 below a limit, in a
// map for the rest.
class NodeMarks {
 public:
  enum : uint8_t { kEntered = 1, kOnPath = 2 };
  uint8_t get(const QPDFObjGen& og) const {
    const size_t number = static_cast<size_t>(og.getObj());
    if (og.getGen() == 0 && number < dense_.size() && dense_[number] != 0) return dense_[number];
    if (sparse_.empty()) return 0;
    auto it = sparse_.find(og);
    return it == sparse_.end() ? 0 : it->second;
  }
  void set(const QPDFObjGen& og, uint8_t marks, size_t denseLimit) {
    if (auto it = sparse_.find(og); it != sparse_.end()) {
      it->second = marks;
      return;
    }
    const size_t number = static_cast<size_t>(og.getObj());
    if (og.getGen() == 0 && number < std::max(denseLimit, dense_.size())) {
      if (dense_.size() <= number) dense_.resize(std::min(std::max(number + 1, dense_.size() * 2), denseLimit));
      dense_[number] = marks;
    } else {
      sparse_[og] = marks;
    }
  }
  void release() {
    std::vector<uint8_t>().swap(dense_);
    decltype(sparse_)().swap(sparse_);
  }

 private:
  std::vector<uint8_t> dense_;
  std::unordered_map<QPDFObjGen, uint8_t, ObjGenHash> sparse_;
};

enum class KidKind { kPage, kNode, kOther };

// What a page-tree kid is: /Type decides (as far as the policy reads it);
// without one, where the policy agrees, a kid with a /Kids array or
// dictionary is a node and any other dictionary a page. A kid that is not a
// dictionary is neither.
template <class H, class Policy>
KidKind ClassifyKid(H& kid, const Policy& policy) {
  if (!kid.isDictionary()) return KidKind::kOther;
  H type = KeyIfPresent(kid, keys::kType);
  if (policy.readsType(type) && type.isName()) {
    if (type.isNameAndEquals(keys::kPage)) return KidKind::kPage;
    if (type.isNameAndEquals(keys::kPages)) return KidKind::kNode;
    return KidKind::kOther;
  }
  if (!policy.untypedKid(kid, type)) return KidKind::kOther;
  H kids = KeyIfPresent(kid, keys::kKids);
  return kids.isArray() || kids.isDictionary() ? KidKind::kNode : KidKind::kPage;
}

template <class Walk, class H, class Policy>
class PageTreeWalk {
 public:
  PageTreeWalk(const PageTreeWalk&) = delete;
  PageTreeWalk& operator=(const PageTreeWalk&) = delete;

  // Number of pages; walks the whole tree once (then known).
  size_t count() {
    walk(SIZE_MAX);
    return pages_;
  }
  // Walks on until page `index` (0-based) is found; false when the tree
  // has no such page.
  bool reach(size_t index) {
    if (index == SIZE_MAX) return false;
    walk(index + 1);
    return index < pages_;
  }

 protected:
  PageTreeWalk(Policy policy, Checkpoint checkpoint) : policy_(std::move(policy)), checkpoint_(std::move(checkpoint)) {}
  ~PageTreeWalk() = default;

  const Policy& policy() const { return policy_; }

 private:
  struct Frame {
    H node;
    H kids;  // an array, or the one kid where a node lists one (`single`)
    bool single = false;
    int count = 0;        // kids
    int next = 0;         // next kid to look at
    QPDFObjGen og;        // the node's id (0 0 for a direct node)
    Inherited<H> passed;  // with Policy::kParentIsLister: what the node passes down

    H kid(int index) { return single ? kids : kids.getArrayItem(index); }
  };

  Walk& self() { return static_cast<Walk&>(*this); }

  void start() {
    started_ = true;
    H top = self().treeRoot();
    if (top.isInitialized()) policy_.need(top, "page tree root");
    if (!top.isDictionary()) {
      policy_.noPageTree(top);
      finished_ = true;
      return;
    }
    // Some writers put a single page where the tree's root belongs.
    if (!KeyIfPresent(top, keys::kKids).isArray() && KeyIfPresent(top, keys::kType).isNameAndEquals(keys::kPage)) {
      policy_.treeRootIsPage(top);
      addPage(top, nullptr, /*mayRelease=*/false);
      finished_ = true;
      return;
    }
    policy_.treeRoot(top);
    enter(top, nullptr);
  }

  // Pushes `node` when it may be walked; the policy decides on the rest.
  void enter(H& node, const Frame* lister) {
    const QPDFObjGen og = node.isIndirect() ? node.getObjGen() : QPDFObjGen();
    if (og.isIndirect()) {
      const uint8_t marks = nodes_.get(og);
      if (marks & NodeMarks::kOnPath) return policy_.loop(node);
      if (marks & NodeMarks::kEntered) return policy_.reachedAgain(node);
    }
    if (stack_.size() >= Policy::kMaxDepth) return policy_.tooDeep(node);
    Frame frame;
    frame.node = node;
    if constexpr (Policy::kParentIsLister) {
      frame.passed = PassedDown(node, lister ? lister->passed : Inherited<H>(), policy_);
    }
    frame.kids = KeyIfPresent(node, keys::kKids);
    if (frame.kids.isInitialized()) policy_.need(frame.kids, "/Kids of the page tree");
    if (frame.kids.isArray()) {
      frame.count = frame.kids.getArrayNItems();
      policy_.kidsListed(node, frame.kids, frame.count);
    } else if (frame.kids.isDictionary() && policy_.kidsAsOne(node, frame.kids)) {
      frame.single = true;
      frame.count = 1;
    } else {
      policy_.noKids(node, frame.kids);
      frame.count = 0;
    }
    frame.og = og;
    if (og.isIndirect()) nodes_.set(og, NodeMarks::kEntered | NodeMarks::kOnPath, self().denseIds(pages_));
    stack_.push_back(std::move(frame));
  }

  // Hands over the next page.
  void addPage(H& page, const Frame* lister, bool mayRelease) {
    if (pages_ >= Policy::kMaxPages) policy_.tooManyPages();
    const size_t index = pages_;
    static const Inherited<H> kNothing;
    const bool remember = self().pageFound(index, page, lister ? lister->passed : kNothing, mayRelease);
    ++pages_;
    if (remember && page.isIndirect()) found_.remember(page.getObjGen(), index, self().denseIds(pages_));
  }

  // Walks on until `wanted` pages are known or the tree is done. A walk
  // that failed (a receiver, an object that is not in the file) fails from
  // then on, but for the pages found before: the pages after it, and how
  // many there are, cannot be told.
  void walk(size_t wanted) {
    if (failure_) {
      if (wanted <= pages_) return;
      std::rethrow_exception(failure_);
    }
    if (finished_ && cleared_) return;
    try {
      walkOn(wanted);
    } catch (...) {
      if (!failure_) failure_ = std::current_exception();
      throw;
    }
  }

  void walkOn(size_t wanted) {
    if (!started_) start();
    while (!finished_ && pages_ < wanted) {
      if (stack_.empty()) {
        finished_ = true;
        break;
      }
      Frame& frame = stack_.back();
      if (frame.next >= frame.count) {
        if (frame.og.isIndirect()) nodes_.set(frame.og, NodeMarks::kEntered, self().denseIds(pages_));
        stack_.pop_back();
        continue;
      }
      if (checkpoint_ && (++steps_ % Policy::kCheckpointInterval) == 0) checkpoint_();
      const int index = frame.next++;
      H kid = frame.kid(index);
      size_t first = 0;
      if (!found_.empty() && kid.isIndirect() && found_.recall(kid.getObjGen(), &first)) {
        self().pageAgain(pages_, first, kid);
        ++pages_;
        continue;
      }
      policy_.need(kid, "page-tree kid");
      switch (ClassifyKid(kid, policy_)) {
        case KidKind::kPage:
          policy_.kidListedBy(kid, frame.node);
          addPage(kid, &frame, /*mayRelease=*/true);
          break;
        case KidKind::kNode:
          policy_.kidListedBy(kid, frame.node);
          enter(kid, &frame);  // may invalidate `frame`
          break;
        case KidKind::kOther:
          if (kid.isDictionary()) policy_.kidListedBy(kid, frame.node);
          policy_.otherKid(kid, frame.node, index);
          break;
      }
    }
    if (finished_ && !cleared_) {
      // Done with the walk's bookkeeping: give its memory back now.
      cleared_ = true;
      std::vector<Frame>().swap(stack_);
      nodes_.release();
      found_.release();
    }
  }

  Policy policy_;
  Checkpoint checkpoint_;
  bool started_ = false;
  bool finished_ = false;
  bool cleared_ = false;
  std::exception_ptr failure_;  // what ended the walk
  std::vector<Frame> stack_;
  NodeMarks nodes_;
  FoundPages found_;
  size_t pages_ = 0;
  size_t steps_ = 0;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_PAGETREEWALK_H_
