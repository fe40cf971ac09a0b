// The page model: the rules every page answer rests on, written once over
// either object handle (libqpdf's QPDFObjectHandle, the structure reader's
// reader::ValueHandle) and applied under a policy.
//
// The rules: a box is an array of four finite numbers, normalised; the
// media box is the page's inherited /MediaBox; the crop box is the inherited
// /CropBox clipped to the media box, the media box when absent; the bleed,
// trim and art boxes are the page's own (never inherited) clipped to the
// media box, the crop box when absent; /Rotate is
// inherited and normalised to 0, 90, 180 or 270; /UserUnit is the page's
// own positive number, else 1. /MediaBox, /CropBox, /Rotate and /Resources
// are inherited: a page's own value, else the nearest ancestor's along
// /Parent.
//
// Where a value breaks a rule, the policy decides:
//  - StrictPolicy (the structure reader) reads only what it reads exactly
//    and raises reader::Refusal; the document then moves to libqpdf.
//  - RepairPolicy (libqpdf) reports through Diagnostics and applies the
//    default: US Letter for a missing, malformed or empty media box, the
//    media box for a malformed or disjoint crop box, the crop box for a
//    malformed or disjoint bleed, trim or art box, 0 for a bad rotation.
// The page-tree walk (PageTreeWalk.h) asks the same policies about damaged
// trees.
#ifndef PDFPARSE_DOCUMENT_PAGEMODEL_H_
#define PDFPARSE_DOCUMENT_PAGEMODEL_H_

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "document/ObjectCheck.h"
#include "document/reader/Syntax.h"

namespace pdfparse::document {

// Receives warnings about damaged structure; may be empty.
using Diagnostics = std::function<void(const std::string& message)>;
// Called between steps of long walks; throws to abandon the walk (deadline).
using Checkpoint = std::function<void()>;

// Levels of the page tree, and of /Parent chains, followed at most.
inline constexpr int kMaxTreeDepth = 1 << 20;

// A rectangle in default user space: llx <= urx, lly <= ury once normalised.
struct Box {
  double llx = 0, lly = 0, urx = 0, ury = 0;
  bool operator==(const Box&) const = default;
};

inline constexpr Box kUsLetter{0, 0, 612, 792};

// What the rules make of a page. Boxes are in default user space units,
// not scaled by userUnit.
struct PageGeometry {
  Box media;
  Box crop;
  Box bleed;
  Box trim;
  Box art;
  double userUnit = 1.0;
  int rotation = 0;
  bool operator==(const PageGeometry&) const = default;
};

// --- Keys ---------------------------------------------------------------------

namespace keys {
inline const std::string kMediaBox = "/MediaBox";
inline const std::string kCropBox = "/CropBox";
inline const std::string kBleedBox = "/BleedBox";
inline const std::string kTrimBox = "/TrimBox";
inline const std::string kArtBox = "/ArtBox";
inline const std::string kRotate = "/Rotate";
inline const std::string kResources = "/Resources";
inline const std::string kUserUnit = "/UserUnit";
inline const std::string kParent = "/Parent";
inline const std::string kKids = "/Kids";
inline const std::string kType = "/Type";
inline const std::string kPage = "/Page";
inline const std::string kPages = "/Pages";
}  // namespace keys

// `dict`'s value for `key`; a handle that is not initialised when the key
// is absent (or `dict` is no dictionary). libqpdf makes a new null object
// for every absent key getKey() is asked for; this does not, which matters
// once per page. reader::ValueHandle has its own (found by argument lookup).
inline QPDFObjectHandle KeyIfPresent(QPDFObjectHandle& dict, const std::string& key) {
  if (!dict.isDictionary()) return QPDFObjectHandle();
  if (dict.hasKey(key)) return dict.getKey(key);
  // libqpdf hides a key whose value is null, and with it a reference to an
  // object it does not have: the reference is kept, for ObjectCheck.
  QPDFObjectHandle value = dict.getKey(key);
  return value.isIndirect() ? value : QPDFObjectHandle();
}

// Absent: not initialised (no such key), or null.
template <class H>
bool Absent(H&& value) {
  return !value.isInitialized() || value.isNull();
}

// --- Policies -----------------------------------------------------------------

// A value that breaks a page rule.
enum class PageFault : uint8_t {
  kNoMediaBox,
  kMalformedMediaBox,
  kEmptyMediaBox,
  kMalformedCropBox,
  kCropBoxOutside,      // clipped to the media box, nothing is left
  kMalformedBleedBox,   // the bleed, trim and art boxes: as the crop box
  kBleedBoxOutside,
  kMalformedTrimBox,
  kTrimBoxOutside,
  kMalformedArtBox,
  kArtBoxOutside,
  kRotateNotNumber,     // neither an integer nor a real
  kRotateNotWhole,      // a real with a fraction (or not finite, or huge)
  kRotateNotRightAngle  // a whole number that is not a multiple of 90
};

// The inheritable attributes.
enum class Attribute : uint8_t { kMediaBox, kCropBox, kRotate, kResources };

inline const std::string& KeyOf(Attribute a) {
  switch (a) {
    case Attribute::kMediaBox:
      return keys::kMediaBox;
    case Attribute::kCropBox:
      return keys::kCropBox;
    case Attribute::kRotate:
      return keys::kRotate;
    case Attribute::kResources:
      break;
  }
  return keys::kResources;
}

// A policy decides wherever the page model or the walk meets something
// that breaks a rule. Its members (H is the object handle):
//   kMaxDepth, kCheckpointInterval, kMaxPages
//                          the walk's bounds and the pace of its checkpoints
//   kParentIsLister        whether the walk carries each node's inherited
//                          values down (it refuses kids whose /Parent is not
//                          the node that lists them) or receivers climb /Parent
//   fault(fault, page, value, degrees)
//                          a value breaks a rule: refuse, or report it (the
//                          rule then applies its default)
//   holds(value, attribute)
//                          whether a node's value of an inheritable attribute
//                          counts (else its ancestors' does)
//   the walk's cases, each named for what it meets: noPageTree,
//   treeRootIsPage, treeRoot, loop, reachedAgain, tooDeep, kidsAsOne, noKids,
//   kidsListed, readsType, untypedKid, kidListedBy, otherKid, tooManyPages
//   (see PageTreeWalk.h).
//   need(value, what)      an object the answer rests on (a kid, a /Kids
//                          array, a /Parent, an attribute's value) must be
//                          in the file, whole; the structure reader refuses
//                          such objects itself

// Reads only what it reads exactly; everything else raises reader::Refusal.
class StrictPolicy {
 public:
  // Page-tree bounds and the pace of checkpoints.
  static constexpr size_t kMaxDepth = 4096;
  static constexpr size_t kCheckpointInterval = 1024;
  static constexpr size_t kMaxPages = UINT32_MAX - 1;
  // Every kid's /Parent is the node that lists it (kidListedBy refuses the
  // rest), so the walk's path is each page's /Parent chain: the walk
  // carries what each node passes down instead of climbing /Parent.
  static constexpr bool kParentIsLister = true;

  // The rules.
  template <class H>
  void fault(PageFault fault, H& page, H& value, long long degrees = 0) const {
    (void)value, (void)degrees;
    Fault(fault, Id(page));
  }
  // Whether an attribute's value as a dictionary holds it counts: a direct
  // null does not; a reference is read (except /Resources, which the walk
  // only locates) and must not lead to null.
  template <class H>
  bool holds(H& value, Attribute attribute) const {
    if (!value.isInitialized()) return false;
    if (!value.isIndirect()) return !value.isNull();
    if (attribute != Attribute::kResources && value.isNull()) RefersToNull(attribute);
    return true;
  }

  // The walk.
  template <class H>
  void noPageTree(H&) const {
    NotAPagesNode();
  }
  template <class H>
  void treeRootIsPage(H&) const {
    NotAPagesNode();
  }
  template <class H>
  void treeRoot(H& root) const {
    H type = KeyIfPresent(root, keys::kType);
    if (!readsType(type) || !type.isNameAndEquals(keys::kPages)) NotAPagesNode();
    H parent = KeyIfPresent(root, keys::kParent);  // a direct null is none; a reference is not read
    if (parent.isInitialized() && (parent.isIndirect() || !parent.isNull()))
      Refuse("the page tree's root has a /Parent");
  }
  template <class H>
  void loop(H& node) const {
    ReachedTwice(Id(node));
  }
  template <class H>
  void reachedAgain(H& node) const {
    ReachedTwice(Id(node));
  }
  template <class H>
  void tooDeep(H&) const {
    Refuse("page tree of more than " + std::to_string(kMaxDepth) + " levels");
  }
  // `kids` is not an array: false (it is not read as a list of one).
  template <class H>
  bool kidsAsOne(H& node, H& kids) const {
    noKids(node, kids);
    return false;
  }
  template <class H>
  void noKids(H& node, H& kids) const {
    NoKids(Id(node), !kids.isInitialized());
  }
  // Every kid of an array of kids is a reference.
  template <class H>
  void kidsListed(H& node, H& kids, int count) const {
    for (int i = 0; i < count; ++i) {
      if (!kids.getArrayItem(i).isIndirect()) KidNotAReference(Id(node));
    }
  }
  // Only a /Type written in place is read.
  template <class H>
  bool readsType(H& type) const {
    return !type.isIndirect();
  }
  // A kid without /Type is refused; one whose /Type is not a name is
  // neither a page nor a node.
  template <class H>
  bool untypedKid(H& kid, H& type) const {
    if (!type.isInitialized()) UntypedKid(Id(kid), false);
    return false;
  }
  template <class H>
  void kidListedBy(H& kid, H& node) const {
    H parent = KeyIfPresent(kid, keys::kParent);
    if (!parent.isInitialized() || !parent.isIndirect() || parent.getObjGen() != node.getObjGen()) {
      ParentIsNotLister(Id(kid));
    }
  }
  template <class H>
  void otherKid(H& kid, H&, int) const {
    UntypedKid(Id(kid), kid.isDictionary());
  }
  template <class H>
  void need(H&, const char*) const {}
  void tooManyPages() const { Refuse("too many pages"); }

 private:
  template <class H>
  static QPDFObjGen Id(H& h) {
    return h.isIndirect() ? h.getObjGen() : QPDFObjGen();
  }
  [[noreturn]] static void Refuse(const std::string& why);
  [[noreturn]] static void Fault(PageFault fault, QPDFObjGen page);
  [[noreturn]] static void RefersToNull(Attribute attribute);
  [[noreturn]] static void NotAPagesNode();
  [[noreturn]] static void ReachedTwice(QPDFObjGen node);
  [[noreturn]] static void NoKids(QPDFObjGen node, bool missing);
  [[noreturn]] static void KidNotAReference(QPDFObjGen node);
  [[noreturn]] static void UntypedKid(QPDFObjGen kid, bool typed);
  [[noreturn]] static void ParentIsNotLister(QPDFObjGen kid);
};

// Reads what it can: reports each problem through Diagnostics and goes on
// with the default (or skips, or cuts the loop).
class RepairPolicy {
 public:
  static constexpr size_t kMaxDepth = kMaxTreeDepth;
  static constexpr size_t kCheckpointInterval = 256;
  static constexpr size_t kMaxPages = SIZE_MAX;
  // Inheritance follows each page's own /Parent chain, whatever node lists it.
  static constexpr bool kParentIsLister = false;

  // `check` (may be null: nothing is checked) must outlive the policy.
  explicit RepairPolicy(Diagnostics diagnostics = {}, const ObjectCheck* check = nullptr)
      : diagnostics_(std::move(diagnostics)), check_(check) {}

  // The rules: the caller applies the default.
  template <class H>
  void fault(PageFault fault, H& page, H& value, long long degrees = 0) const {
    if (!diagnostics_) return;
    const std::string name = page.isIndirect() ? "page " + page.getObjGen().unparse(' ') : "page";
    warn(Message(fault, name, fault == PageFault::kRotateNotWhole ? value.unparse() : "", degrees));
  }
  // A null, direct or referred to, is no value: the ancestors' counts. A
  // value the file does not hold is no null: it is unknown.
  template <class H>
  bool holds(H& value, Attribute attribute) const {
    need(value, KeyOf(attribute).c_str());
    return !Absent(value);
  }

  // The walk.
  template <class H>
  void noPageTree(H&) const {
    warn("page tree: the catalog has no /Pages dictionary; no pages");
  }
  template <class H>
  void treeRootIsPage(H&) const {
    warn("page tree: /Pages is a page itself; taken as the only page");
  }
  template <class H>
  void treeRoot(H&) const {}
  template <class H>
  void loop(H& node) const {
    warn("page tree: " + Describe(node) + " is its own ancestor; loop cut");
  }
  template <class H>
  void reachedAgain(H& node) const {
    warn("page tree: " + Describe(node) + " is reached a second time; not walked again");
  }
  template <class H>
  void tooDeep(H& node) const {
    warn("page tree: deeper than " + std::to_string(kMaxTreeDepth) + " levels at " + Describe(node) +
         "; subtree skipped");
  }
  // Some writers put one kid where the array belongs: a list of that one.
  template <class H>
  bool kidsAsOne(H& node, H&) const {
    warn("page tree: the /Kids of " + Describe(node) + " is one object, not an array; read as a list of one");
    return true;
  }
  template <class H>
  void noKids(H& node, H&) const {
    warn("page tree: " + Describe(node) + " has no /Kids array");
  }
  template <class H>
  void kidsListed(H&, H&, int) const {}
  template <class H>
  bool readsType(H&) const {
    return true;
  }
  // Without /Type, a kid with /Kids is a node and any other dictionary a page.
  template <class H>
  bool untypedKid(H&, H&) const {
    return true;
  }
  // A /Parent that names another node counts for inheritance, not here.
  template <class H>
  void kidListedBy(H&, H&) const {}
  template <class H>
  void otherKid(H& kid, H& node, int index) const {
    warn("page tree: kid " + std::to_string(index) + " of " + Describe(node) + " is not a page or page-tree node (" +
         Describe(kid) + "); skipped");
  }
  void tooManyPages() const {}
  template <class H>
  void need(H& value, const char* what) const {
    if constexpr (std::is_same_v<H, QPDFObjectHandle>) {
      if (check_ != nullptr) check_->require(value, what);
    }
  }

 private:
  template <class H>
  static std::string Describe(H& h) {
    if (h.isIndirect()) return "object " + h.getObjGen().unparse(' ');
    return "a direct object";
  }
  static std::string Message(PageFault fault, const std::string& page, const std::string& rotate, long long degrees);
  void warn(const std::string& message) const {
    if (diagnostics_) diagnostics_(message);
  }

  Diagnostics diagnostics_;
  const ObjectCheck* check_;
};

// --- The rules ----------------------------------------------------------------

// An array of four finite numbers, normalised; nullopt otherwise.
template <class H>
std::optional<Box> ReadBox(H& array) {
  if (!array.isArray() || array.getArrayNItems() != 4) return std::nullopt;
  double v[4];
  for (int i = 0; i < 4; ++i) {
    H item = array.getArrayItem(i);
    if (!item.isNumber()) return std::nullopt;
    v[i] = item.getNumericValue();
    if (!std::isfinite(v[i])) return std::nullopt;
  }
  return Box{std::min(v[0], v[2]), std::min(v[1], v[3]), std::max(v[0], v[2]), std::max(v[1], v[3])};
}

inline bool HasArea(const Box& b) { return b.urx > b.llx && b.ury > b.lly; }

// The media box from the page's inherited /MediaBox `value`.
template <class H, class Policy>
Box MediaBoxOf(H& page, H& value, const Policy& policy) {
  if (Absent(value)) {
    policy.fault(PageFault::kNoMediaBox, page, value);
    return kUsLetter;
  }
  const std::optional<Box> box = ReadBox(value);
  if (!box) {
    policy.fault(PageFault::kMalformedMediaBox, page, value);
    return kUsLetter;
  }
  if (!HasArea(*box)) {
    policy.fault(PageFault::kEmptyMediaBox, page, value);
    return kUsLetter;
  }
  return *box;
}

// The crop box from the inherited /CropBox `value`, clipped to `media`.
template <class H, class Policy>
Box CropBoxOf(H& page, const Box& media, H& value, const Policy& policy) {
  if (Absent(value)) return media;
  const std::optional<Box> crop = ReadBox(value);
  if (!crop) {
    policy.fault(PageFault::kMalformedCropBox, page, value);
    return media;
  }
  const Box clipped{std::max(crop->llx, media.llx), std::max(crop->lly, media.lly), std::min(crop->urx, media.urx),
                    std::min(crop->ury, media.ury)};
  if (!HasArea(clipped)) {
    policy.fault(PageFault::kCropBoxOutside, page, value);
    return media;
  }
  return clipped;
}

// The bleed, trim and art boxes. PageFault values of each box: malformed,
// then outside.
enum class PrintBox : uint8_t { kBleed, kTrim, kArt };

inline const std::string& KeyOf(PrintBox box) {
  return box == PrintBox::kBleed ? keys::kBleedBox : box == PrintBox::kTrim ? keys::kTrimBox : keys::kArtBox;
}

// The page's own bleed, trim or art box, clipped to `media`; `crop` when
// absent.
template <class H, class Policy>
Box PrintBoxOf(H& page, PrintBox which, const Box& media, const Box& crop, const Policy& policy) {
  H value = KeyIfPresent(page, KeyOf(which));
  if (Absent(value)) return crop;
  const auto malformed = static_cast<PageFault>(static_cast<int>(PageFault::kMalformedBleedBox) + 2 * static_cast<int>(which));
  const std::optional<Box> box = ReadBox(value);
  if (!box) {
    policy.fault(malformed, page, value);
    return crop;
  }
  const Box clipped{std::max(box->llx, media.llx), std::max(box->lly, media.lly), std::min(box->urx, media.urx),
                    std::min(box->ury, media.ury)};
  if (!HasArea(clipped)) {
    policy.fault(static_cast<PageFault>(static_cast<int>(malformed) + 1), page, value);
    return crop;
  }
  return clipped;
}

// The page's bleed, trim and art boxes into `geometry`, whose media and crop
// boxes are measured.
template <class H, class Policy>
void MeasurePrintBoxes(H& page, PageGeometry& geometry, const Policy& policy) {
  geometry.bleed = PrintBoxOf(page, PrintBox::kBleed, geometry.media, geometry.crop, policy);
  geometry.trim = PrintBoxOf(page, PrintBox::kTrim, geometry.media, geometry.crop, policy);
  geometry.art = PrintBoxOf(page, PrintBox::kArt, geometry.media, geometry.crop, policy);
}

// The inherited /Rotate `value` as 0, 90, 180 or 270 (-90 is 270, 450 is 90).
template <class H, class Policy>
int RotationOf(H& page, H& rotate, const Policy& policy) {
  if (Absent(rotate)) return 0;
  long long degrees;
  if (rotate.isInteger()) {
    degrees = rotate.getIntValue();
  } else if (rotate.isReal()) {
    const double d = rotate.getNumericValue();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1e15) {
      policy.fault(PageFault::kRotateNotWhole, page, rotate);
      return 0;
    }
    degrees = static_cast<long long>(d);
  } else {
    policy.fault(PageFault::kRotateNotNumber, page, rotate);
    return 0;
  }
  if (degrees % 90 != 0) {
    policy.fault(PageFault::kRotateNotRightAngle, page, rotate, degrees);
    return 0;
  }
  return static_cast<int>(((degrees % 360) + 360) % 360);
}

// The page's own /UserUnit (never inherited): 1 unless a positive number.
template <class H>
double UserUnitOf(H& page) {
  H value = KeyIfPresent(page, keys::kUserUnit);
  if (!value.isInitialized() || !value.isNumber()) return 1.0;
  const double unit = value.getNumericValue();
  return (std::isfinite(unit) && unit > 0) ? unit : 1.0;
}

// --- Inheritance --------------------------------------------------------------

// The four inheritable attributes of a page or what a node passes down; a
// handle that is not initialised where neither it nor an ancestor has one.
// A slot holds only what the policy counts as a value (holds()), so an
// initialised slot is filled: it is not looked into again (the strict
// policy only locates /Resources).
template <class H>
struct Inherited {
  H mediaBox, cropBox, rotate, resources;
  QPDFObjGen resourcesHolder;  // the page or node whose dictionary holds `resources`

  H& operator[](Attribute a) {
    switch (a) {
      case Attribute::kMediaBox:
        return mediaBox;
      case Attribute::kCropBox:
        return cropBox;
      case Attribute::kRotate:
        return rotate;
      case Attribute::kResources:
        break;
    }
    return resources;
  }
  const H& operator[](Attribute a) const { return const_cast<Inherited&>(*this)[a]; }
};

inline constexpr Attribute kAttributes[] = {Attribute::kMediaBox, Attribute::kCropBox, Attribute::kRotate,
                                            Attribute::kResources};

// `node`'s own values where `into` has none (as the policy counts them).
template <class H, class Policy>
void TakeOwn(H& node, Inherited<H>& into, const Policy& policy) {
  for (Attribute a : kAttributes) {
    H& slot = into[a];
    if (slot.isInitialized()) continue;
    H value = KeyIfPresent(node, KeyOf(a));
    if (!policy.holds(value, a)) continue;
    slot = std::move(value);
    if (a == Attribute::kResources) into.resourcesHolder = node.isIndirect() ? node.getObjGen() : QPDFObjGen();
  }
}

// `above`'s values where `into` has none: one step of inheritance.
template <class H>
void Inherit(Inherited<H>& into, const Inherited<H>& above) {
  for (Attribute a : kAttributes) {
    if (into[a].isInitialized()) continue;
    into[a] = above[a];
    if (a == Attribute::kResources) into.resourcesHolder = above.resourcesHolder;
  }
}

// What `node` (a page, or a node passing values down) has: its own values
// over `above`, what its parent passes down.
template <class H, class Policy>
Inherited<H> PassedDown(H& node, const Inherited<H>& above, const Policy& policy) {
  Inherited<H> out;
  if (node.isDictionary()) TakeOwn(node, out, policy);
  Inherit(out, above);
  return out;
}

struct ObjGenHash {
  size_t operator()(const QPDFObjGen& og) const {
    return std::hash<long long>()((static_cast<long long>(og.getObj()) << 20) ^ og.getGen());
  }
};

// The nodes met while climbing /Parent, to stop at a loop. Called for every
// page and chains are short, so the first nodes are kept without allocating.
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

// The inherited attributes of pages, found by climbing each page's /Parent
// chain (with a loop guard and the depth bound), remembering what each
// page-tree node passes down (nodes are shared by many pages). Only nodes
// whose whole /Parent chain was read without a loop or the bound are kept,
// so a remembered value is what a fresh climb finds. Use one per document.
template <class H>
class Inheritance {
 public:
  template <class Policy>
  Inherited<H> of(H& page, const Policy& policy) {
    Inherited<H> own;
    if (!page.isDictionary()) return own;
    TakeOwn(page, own, policy);
    if (Complete(own)) return own;

    // The ancestors up to one already known, the top, a loop or the bound.
    AncestorSet seen;
    if (page.isIndirect()) seen.seenBefore(page.getObjGen());
    std::vector<H> chain;
    Inherited<H> above;
    bool clean = true;
    H node = KeyIfPresent(page, keys::kParent);
    for (int depth = 1;; ++depth) {
      if (node.isInitialized()) policy.need(node, "/Parent");
      if (!node.isInitialized() || !node.isDictionary()) break;
      if (depth > kMaxTreeDepth) {
        clean = false;
        break;
      }
      if (node.isIndirect()) {
        const QPDFObjGen og = node.getObjGen();
        auto known = nodes_.find(og);
        if (known != nodes_.end()) {
          above = known->second;
          break;
        }
        if (seen.seenBefore(og)) {
          clean = false;
          break;
        }
      }
      chain.push_back(node);
      node = KeyIfPresent(node, keys::kParent);
    }
    for (size_t i = chain.size(); i-- > 0;) {
      above = PassedDown(chain[i], above, policy);
      if (clean && chain[i].isIndirect()) nodes_.emplace(chain[i].getObjGen(), above);
    }
    Inherit(own, above);
    return own;
  }

 private:
  static bool Complete(Inherited<H>& a) {
    return a.mediaBox.isInitialized() && a.cropBox.isInitialized() && a.rotate.isInitialized() &&
           a.resources.isInitialized();
  }

  std::unordered_map<QPDFObjGen, Inherited<H>, ObjGenHash> nodes_;
};

// The value of one inheritable attribute of `page`, found afresh.
template <class H, class Policy>
H InheritedAttribute(H& page, Attribute attribute, const Policy& policy) {
  return Inheritance<H>().of(page, policy)[attribute];
}

// Every rule of a page from its inherited attributes, under one policy.
template <class H, class Policy>
PageGeometry Measure(H& page, Inherited<H>& inherited, const Policy& policy) {
  PageGeometry out;
  out.media = MediaBoxOf(page, inherited.mediaBox, policy);
  out.crop = CropBoxOf(page, out.media, inherited.cropBox, policy);
  MeasurePrintBoxes(page, out, policy);
  out.rotation = RotationOf(page, inherited.rotate, policy);
  out.userUnit = UserUnitOf(page);
  return out;
}

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_PAGEMODEL_H_
