#include "document/reader/PageWalk.h"

#include <algorithm>
#include <cmath>

namespace pdfparse::document::reader {
namespace {

constexpr size_t kCheckpointInterval = 1024;

std::string Name(Ref ref) { return std::to_string(ref.num) + " " + std::to_string(ref.gen); }

bool HasArea(const Box& b) { return b.urx > b.llx && b.ury > b.lly; }

}  // namespace

PageWalk::PageWalk(StructureReader& reader, Found found, Checkpoint checkpoint)
    : reader_(reader), found_(std::move(found)), checkpoint_(std::move(checkpoint)) {}

size_t PageWalk::count() {
  walk(SIZE_MAX);
  return pages_;
}

bool PageWalk::reach(size_t index) {
  walk(index == SIZE_MAX ? index : index + 1);
  return index < pages_;
}

std::optional<Object> PageWalk::attribute(const Object& dict, const char* key) {
  const Object* value = dict.get(key);
  if (value == nullptr || value->isNull()) return std::nullopt;
  Object resolved = reader_.resolve(*value);
  if (resolved.isNull() || resolved.isReference()) throw Refusal(std::string("/") + key + " refers to null");
  return resolved;
}

Box PageWalk::box(const Object& value, const char* key) {
  if (!value.isArray() || value.items().size() != 4) throw Refusal(std::string("malformed /") + key);
  double v[4];
  for (int i = 0; i < 4; ++i) {
    const Object item = reader_.resolve(value.items()[i]);
    if (!item.isNumber() || !std::isfinite(item.number())) throw Refusal(std::string("malformed /") + key);
    v[i] = item.number();
  }
  return Box{std::min(v[0], v[2]), std::min(v[1], v[3]), std::max(v[0], v[2]), std::max(v[1], v[3])};
}

std::optional<ResourcesAt> PageWalk::ResourcesOf(Ref ref, const Object& dict) {
  const Object* value = dict.get("Resources");
  if (value == nullptr || value->isNull()) return std::nullopt;
  if (value->isReference()) return ResourcesAt{value->ref().num, static_cast<uint16_t>(value->ref().gen), false};
  return ResourcesAt{ref.num, static_cast<uint16_t>(ref.gen), true};
}

void PageWalk::start() {
  started_ = true;
  const size_t limit = reader_.objectLimit();
  entered_.assign(limit, false);
  firstIndex_.assign(limit, 0);
  const Object* rootRef = reader_.trailer().get("Root");
  if (rootRef == nullptr || !rootRef->isReference()) throw Refusal("the trailer's /Root is not a reference");
  const Object catalog = reader_.load(rootRef->ref());
  const Object* pages = catalog.isDictionary() ? catalog.get("Pages") : nullptr;
  if (pages == nullptr || !pages->isReference()) throw Refusal("the catalog's /Pages is not a reference");
  const Object top = reader_.load(pages->ref());
  if (!top.isDictionary() || !top.get("Type") || !top.get("Type")->isName("Pages")) {
    throw Refusal("the page tree's root is not a /Pages node");
  }
  if (const Object* parent = top.get("Parent"); parent && !parent->isNull()) {
    throw Refusal("the page tree's root has a /Parent");
  }
  enter(pages->ref(), top, Inherited{});
}

void PageWalk::enter(Ref ref, const Object& node, const Inherited& from) {
  if (entered_[ref.num]) throw Refusal("page tree node " + Name(ref) + " is reached twice");
  if (stack_.size() >= kMaxReaderDepth)
    throw Refusal("page tree of more than " + std::to_string(kMaxReaderDepth) + " levels");
  entered_[ref.num] = true;
  Frame frame;
  frame.node = ref;
  frame.inherited = from;
  if (auto media = attribute(node, "MediaBox")) frame.inherited.media = std::move(media);
  if (auto crop = attribute(node, "CropBox")) frame.inherited.crop = std::move(crop);
  if (auto rotate = attribute(node, "Rotate")) frame.inherited.rotate = std::move(rotate);
  if (auto resources = ResourcesOf(ref, node)) frame.inherited.resources = *resources;
  const Object* kids = node.get("Kids");
  if (kids == nullptr) throw Refusal("page tree node " + Name(ref) + " has no /Kids");
  const Object list = reader_.resolve(*kids);
  if (!list.isArray()) throw Refusal("the /Kids of " + Name(ref) + " is not an array");
  frame.kids.reserve(list.items().size());
  for (const Object& kid : list.items()) {
    if (!kid.isReference()) throw Refusal("a kid of " + Name(ref) + " is not a reference");
    frame.kids.push_back(kid.ref());
  }
  stack_.push_back(std::move(frame));
}

void PageWalk::addPage(Ref ref, const Object& page, const Inherited& from) {
  MeasuredPage out;
  out.object = ref.num;
  out.resources = ResourcesOf(ref, page).value_or(from.resources);
  for (const char* key : {"Group", "Annots"}) {
    if (const Object* value = page.get(key); value && !value->isNull()) out.extras = true;
  }

  std::optional<Object> media = attribute(page, "MediaBox");
  if (!media) media = from.media;
  if (!media) throw Refusal("page " + Name(ref) + " has no /MediaBox");
  out.media = box(*media, "MediaBox");
  if (!HasArea(out.media)) throw Refusal("page " + Name(ref) + " has an empty /MediaBox");

  std::optional<Object> crop = attribute(page, "CropBox");
  if (!crop) crop = from.crop;
  out.crop = out.media;
  if (crop) {
    const Box c = box(*crop, "CropBox");
    const Box& m = out.media;
    out.crop = Box{std::max(c.llx, m.llx), std::max(c.lly, m.lly), std::min(c.urx, m.urx), std::min(c.ury, m.ury)};
    if (!HasArea(out.crop)) throw Refusal("page " + Name(ref) + " has a /CropBox outside its /MediaBox");
  }

  std::optional<Object> rotate = attribute(page, "Rotate");
  if (!rotate) rotate = from.rotate;
  if (rotate) {
    long long degrees = 0;
    if (rotate->type() == Object::Type::Integer) {
      degrees = rotate->integer();
    } else if (rotate->type() == Object::Type::Real && rotate->number() == std::floor(rotate->number()) &&
               std::fabs(rotate->number()) <= 1e15) {
      degrees = static_cast<long long>(rotate->number());
    } else {
      throw Refusal("page " + Name(ref) + " has a /Rotate that is not a whole number");
    }
    if (degrees % 90 != 0) throw Refusal("page " + Name(ref) + " has a /Rotate that is not a multiple of 90");
    out.rotation = static_cast<int>(((degrees % 360) + 360) % 360);
  }

  if (const Object* unit = page.get("UserUnit"); unit && !unit->isNull()) {
    const Object value = reader_.resolve(*unit);
    if (value.isNumber() && std::isfinite(value.number()) && value.number() > 0) out.userUnit = value.number();
  }
  found_(pages_, pages_, out);
}

void PageWalk::walk(size_t wanted) {
  if (!started_) start();
  while (!finished_ && pages_ < wanted) {
    if (stack_.empty()) {
      finished_ = true;
      break;
    }
    Frame& frame = stack_.back();
    if (frame.next >= frame.kids.size()) {
      stack_.pop_back();
      continue;
    }
    if (checkpoint_ && (++steps_ % kCheckpointInterval) == 0) checkpoint_();
    const Ref ref = frame.kids[frame.next++];
    if (ref.num >= firstIndex_.size()) throw Refusal("page tree kid " + Name(ref) + " is not in the file");
    if (firstIndex_[ref.num] != 0) {
      // A page object listed again: the same page once more.
      found_(pages_, firstIndex_[ref.num] - 1, MeasuredPage{});
      ++pages_;
      continue;
    }
    const Object kid = reader_.load(ref);
    const Object* type = kid.isDictionary() ? kid.get("Type") : nullptr;
    if (type == nullptr) throw Refusal("page tree kid " + Name(ref) + " has no /Type");
    const Object* parent = kid.get("Parent");
    if (parent == nullptr || !parent->isReference() || !(parent->ref() == frame.node)) {
      throw Refusal("the /Parent of " + Name(ref) + " is not the node that lists it");
    }
    if (type->isName("Page")) {
      if (pages_ >= UINT32_MAX - 1) throw Refusal("too many pages");
      addPage(ref, kid, frame.inherited);
      firstIndex_[ref.num] = static_cast<uint32_t>(pages_ + 1);
      ++pages_;
    } else if (type->isName("Pages")) {
      const Inherited inherited = frame.inherited;  // `frame` moves when the stack grows
      enter(ref, kid, inherited);
    } else {
      throw Refusal("page tree kid " + Name(ref) + " is neither a page nor a node");
    }
  }
}

}  // namespace pdfparse::document::reader
