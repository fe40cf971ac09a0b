#include "document/InkWalker.h"

#include <qpdf/QPDFObjGen.hh>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <set>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "document/Error.h"
#include "shared/Constants.h"
#include "shared/TextCodec.h"

namespace pdfparse::document {
namespace {

// Complete ink lists kept for reuse, in entries (8 bytes each) over the
// document. Past it, further lists are rebuilt from their parts when asked.
constexpr size_t kMaxKeptEntries = size_t{1} << 21;
// Steps between checkpoints while ink lists are assembled.
constexpr size_t kTickEvery = 1024;
// Annotations looked at between checkpoints.
constexpr size_t kAnnotsPerTick = 256;

// Thrown through the walk to leave it with `abandonedBy` (a deadline, the
// nesting bound, no memory), so that the per-item handlers, which swallow
// structure errors, let it pass.
struct Abandoned {};

enum class Kind : uint8_t {
  kResources,
  kColorSpace,
  kShading,
  kPattern,
  kXObject,
  kAppearance,  // an annotation's appearance stream: a form, /Subtype or not
  kFont,
  kExtGState,
};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kResources:
      return "resources";
    case Kind::kColorSpace:
      return "colour space";
    case Kind::kShading:
      return "shading";
    case Kind::kPattern:
      return "pattern";
    case Kind::kXObject:
      return "XObject";
    case Kind::kAppearance:
      return "appearance stream";
    case Kind::kFont:
      return "font";
    case Kind::kExtGState:
      return "ExtGState";
  }
  return "object";
}

template <class H>
std::string Describe(H h) {
  if (!h.isInitialized()) return "missing object";
  if (h.isIndirect()) {
    QPDFObjGen og = h.getObjGen();
    return std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " R";
  }
  return "direct object";
}

// One step of an ink list: an ink (by number), or every ink of a group.
struct Entry {
  enum What : uint8_t { kSpot, kProcess, kGroup };
  uint32_t id;
  What what;
};

// What an object leads to, in the order it names them: colorants and
// objects to walk.
template <class H>
struct Item {
  H object;  // not for an ink
  uint32_t ink = 0;
  bool isInk = false;
  bool process = false;
  Kind kind = Kind::kResources;
};

bool IsProcessName(std::string_view name) { return shared::IsProcessInk(name); }

bool IsNoInk(std::string_view name) { return name == "All" || name == "None"; }

template <class H>
bool HasName(H h, std::string_view name) {
  return h.isName() && h.getName() == name;
}

using Key = std::pair<QPDFObjGen, Kind>;
struct KeyHash {
  size_t operator()(const Key& k) const {
    return std::hash<long long>()((static_cast<long long>(k.first.getObj()) << 24) ^
                                  (static_cast<long long>(k.first.getGen()) << 4) ^ static_cast<int>(k.second));
  }
};

}  // namespace

// The objects reachable from a page are walked depth first on an explicit
// stack, once per document: objects that reach each other (a form whose
// resources hold the form again, the common case being a resource
// dictionary shared by every page) form one group, found as the walk ends
// in its first object (Tarjan's method), and every object of the group
// shares the group's ink list. Each object is thus walked once however many
// pages and loops lead to it; a page then costs its own direct objects and
// the lists of the groups it names.
template <class H>
struct Walk {
  using Item = document::Item<H>;
  using Items = std::vector<Item>;

  Walk(Diagnostics diagnostics, Checkpoint checkpoint, size_t maxNesting)
      : diagnostics(std::move(diagnostics)), checkpoint(std::move(checkpoint)), maxNesting(maxNesting) {}

  // A page given by its parts (resources, group, annotations).
  template <class Parts>
  std::vector<Ink> walkParts(const Parts& parts, bool opi) {
    return walkPage(
        opi, [&] { return parts.resources; }, [&] { return parts.group; }, [&] { return parts.annots; });
  }

  // Objects that reach each other, walked.
  struct Group {
    std::vector<Entry> entries;  // in walk order; with `complete`, the inks themselves, each once
    bool complete = false;
  };
  // What has been walked, one per includeOPI.
  struct Graph {
    std::unordered_map<Key, uint32_t, KeyHash> groupOf;
    std::vector<Group> groups;
    std::vector<uint32_t> seen;  // per group: the generation of the last list that took it in
    uint32_t generation = 0;
  };
  struct Frame {
    Items items;
    size_t next = 0;
    bool indexed = false;  // an indirect object, numbered for the group search
    Key key{};
    uint32_t index = 0;
    uint32_t low = UINT32_MAX;  // lowest number reached from here
    size_t entriesStart = 0;    // its entries in `pending` begin here
    size_t stackStart = 0;      // its place in `open`
  };
  struct OpenObject {
    uint32_t index;
    bool onPath;
  };

  Diagnostics diagnostics;
  Checkpoint checkpoint;
  size_t maxNesting = kDefaultMaxInkNesting;
  const ObjectCheck* check = nullptr;
  InkWalker::Stats stats;
  Graph graphs[2];
  size_t keptEntries = 0;
  // Colorant names by number.
  std::vector<std::string> names;
  std::unordered_map<std::string, uint32_t> numbers;
  // Scratch of list assembly, per ink number.
  std::vector<uint32_t> inkSeen, inkAt;
  uint32_t inkGeneration = 0;

  // Per page.
  bool includeOPI = false;
  std::exception_ptr abandonedBy;
  std::vector<Frame> frames;
  std::vector<Entry> pending;  // entries of the objects whose group is not known yet
  std::vector<Key> open;       // those objects, in the order entered
  std::unordered_map<Key, OpenObject, KeyHash> openIndex;
  uint32_t nextIndex = 0;

  void warn(const std::string& message) {
    if (!diagnostics) return;
    try {
      diagnostics("inks: " + message);
    } catch (...) {
      // A failing diagnostics sink must not turn into a failed page.
    }
  }

  [[noreturn]] void abandon(std::exception_ptr cause) {
    abandonedBy = std::move(cause);
    throw Abandoned{};
  }

  void tick() {
    if (!checkpoint) return;
    try {
      checkpoint();
    } catch (...) {
      abandon(std::current_exception());
    }
  }

  // An object the walk reads must be in the file, whole (libqpdf's objects
  // only: the structure reader refuses the rest itself).
  void need(H& h, const char* what) {
    if constexpr (std::is_same_v<H, QPDFObjectHandle>) {
      if (check == nullptr || !h.isInitialized()) return;
      try {
        check->require(h, what);
      } catch (const Error&) {
        abandon(std::current_exception());
      }
    }
  }

  // Runs one step of the walk; structure errors skip that step only.
  // `what` names the step, built only when it is needed.
  template <typename What, typename Fn>
  void guarded(What&& what, Fn&& fn) {
    try {
      fn();
    } catch (const Abandoned&) {
      throw;
    } catch (const Error&) {
      abandon(std::current_exception());  // a limit, or an object that is not there: the page's inks are unknown
    } catch (const std::bad_alloc&) {
      abandon(std::current_exception());
    } catch (const reader::Refusal&) {
      abandon(std::current_exception());  // the reader cannot tell: the document goes to libqpdf
    } catch (const std::exception& e) {
      tick();  // a spent work budget shows as a failed read: it ends the walk, it is no damage
      skipped(what, e.what());
    } catch (...) {
      skipped(what, "unknown error");
    }
  }

  template <typename What>
  void skipped(What& what, const char* cause) {
    try {
      warn(what() + ": " + cause + "; skipped");
    } catch (...) {
      // Out of memory for the message: the step is skipped all the same.
    }
  }

  uint32_t number(const std::string& name) {
    auto [it, added] = numbers.emplace(name, static_cast<uint32_t>(names.size()));
    if (added) names.push_back(name);
    return it->second;
  }

  void ink(Items& out, const std::string& name, bool process) {
    Item item;
    item.ink = number(name);
    item.isInk = true;
    item.process = process;
    out.push_back(std::move(item));
  }

  void child(Items& out, Kind kind, H h) {
    Item item;
    item.object = std::move(h);
    item.kind = kind;
    out.push_back(std::move(item));
  }

  // Each value of a resource category dictionary (/ColorSpace, /XObject...).
  void eachValue(H dict, const char* category, Kind kind, Items& out) {
    need(dict, category);
    if (dict.isNull()) return;
    if (!dict.isDictionary()) {
      warn(std::string(category) + " is not a dictionary; skipped");
      return;
    }
    for (auto& item : dict.ditems()) child(out, kind, item.second);
  }

  void colorant(H name, bool process, Items& out) {
    if (!name.isName()) {
      warn("colorant " + Describe(name) + " is not a name; skipped");
      return;
    }
    // getName() has #xx decoded; bytes that are not UTF-8 are read as
    // PDFDocEncoding, as for every other name the library reports.
    std::string text = shared::DecodeNameText(name.getName());
    if (text.empty()) {
      warn("empty colorant name; skipped");
      return;
    }
    if (IsProcessName(text) || IsNoInk(text)) return;
    ink(out, text, process);
  }

  // What `h`, read as `kind`, leads to.
  void body(Kind kind, H h, Items& out) {
    switch (kind) {
      case Kind::kResources:
        resources(h, out);
        break;
      case Kind::kColorSpace:
        colorSpace(h, out);
        break;
      case Kind::kShading:
        shading(h, out);
        break;
      case Kind::kPattern:
        pattern(h, out);
        break;
      case Kind::kXObject:
        xobject(h, out, false);
        break;
      case Kind::kAppearance:
        xobject(h, out, true);
        break;
      case Kind::kFont:
        font(h, out);
        break;
      case Kind::kExtGState:
        extGState(h, out);
        break;
    }
  }

  void resources(H res, Items& out) {
    if (!res.isDictionary()) {
      warn("resources " + Describe(res) + " is not a dictionary; skipped");
      return;
    }
    ++stats.resourceWalks;
    static const std::pair<const char*, Kind> kCategories[] = {
        {"/ColorSpace", Kind::kColorSpace}, {"/Shading", Kind::kShading}, {"/Pattern", Kind::kPattern},
        {"/XObject", Kind::kXObject},       {"/Font", Kind::kFont},       {"/ExtGState", Kind::kExtGState},
    };
    for (const auto& [category, kind] : kCategories) {
      guarded([&, category = category] { return std::string(category); },
              [&, category = category, kind = kind] { eachValue(res.getKey(category), category, kind, out); });
    }
  }

  void colorSpace(H cs, Items& out) {
    if (cs.isName()) return;  // device families and /Pattern: process only
    if (!cs.isArray() || cs.getArrayNItems() < 1 || !cs.getArrayItem(0).isName()) {
      warn("colour space " + Describe(cs) + " is malformed; skipped");
      return;
    }
    const int n = cs.getArrayNItems();
    const std::string family = cs.getArrayItem(0).getName();
    if (family == "/Separation") {
      if (n < 2) {
        warn("Separation " + Describe(cs) + " has no colorant; skipped");
        return;
      }
      colorant(cs.getArrayItem(1), false, out);
    } else if (family == "/DeviceN") {
      deviceN(cs, out);
    } else if (family == "/Indexed" || family == "/I" || family == "/Pattern") {
      if (n >= 2) {
        child(out, Kind::kColorSpace, cs.getArrayItem(1));
      } else if (family != "/Pattern") {
        warn("Indexed " + Describe(cs) + " has no base; skipped");
      }
    } else if (family == "/DeviceGray" || family == "/DeviceRGB" || family == "/DeviceCMYK" || family == "/CalGray" ||
               family == "/CalRGB" || family == "/Lab" || family == "/ICCBased") {
      // Process colours only.
    } else {
      warn("colour space " + Describe(cs) + " of unknown family " + family + "; skipped");
    }
  }

  void deviceN(H cs, Items& out) {
    H names = cs.getArrayItem(1);
    need(names, "DeviceN colorants");
    if (!names.isArray()) {
      warn("DeviceN " + Describe(cs) + " has no colorant array; skipped");
      return;
    }
    H attrs = cs.getArrayNItems() >= 5 ? cs.getArrayItem(4) : H::newNull();
    need(attrs, "DeviceN attributes");
    std::set<std::string> processNames;
    if (attrs.isDictionary() && HasName(attrs.getKey("/Subtype"), "/NChannel")) {
      H components = attrs.getKey("/Process");
      need(components, "NChannel /Process");
      components = components.isDictionary() ? components.getKey("/Components") : H::newNull();
      need(components, "NChannel /Components");
      if (components.isArray()) {
        for (auto& c : components.aitems()) {
          if (c.isName()) processNames.insert(c.getName());
        }
      }
    }
    for (auto& item : names.aitems()) {
      guarded([&] { return "DeviceN " + Describe(cs) + " colorant"; },
              [&] {
                bool process = item.isName() && processNames.count(item.getName()) > 0;
                colorant(item, process, out);
              });
    }
    if (attrs.isDictionary()) eachValue(attrs.getKey("/Colorants"), "/Colorants", Kind::kColorSpace, out);
  }

  void shading(H sh, Items& out) {
    if (!sh.isDictionary() && !sh.isStream()) {
      warn("shading " + Describe(sh) + " is not a dictionary; skipped");
      return;
    }
    H dict = sh.isStream() ? sh.getDict() : sh;
    child(out, Kind::kColorSpace, dict.getKey("/ColorSpace"));
  }

  void pattern(H pat, Items& out) {
    if (!pat.isDictionary() && !pat.isStream()) {
      warn("pattern " + Describe(pat) + " is not a dictionary; skipped");
      return;
    }
    H dict = pat.isStream() ? pat.getDict() : pat;
    H type = dict.getKey("/PatternType");
    if (type.isInteger() && type.getIntValue() == 1) {
      child(out, Kind::kResources, dict.getKey("/Resources"));
    } else if (type.isInteger() && type.getIntValue() == 2) {
      child(out, Kind::kShading, dict.getKey("/Shading"));
      child(out, Kind::kExtGState, dict.getKey("/ExtGState"));
    } else {
      warn("pattern " + Describe(pat) + " has no valid /PatternType; skipped");
    }
  }

  void xobject(H xo, Items& out, bool appearance) {
    if (!xo.isStream()) {
      warn(std::string(appearance ? "appearance " : "XObject ") + Describe(xo) + " is not a stream; skipped");
      return;
    }
    H dict = xo.getDict();  // the dictionary only: never decoded
    H subtype = dict.getKey("/Subtype");
    need(subtype, "XObject /Subtype");
    if (HasName(subtype, "/Image")) {
      child(out, Kind::kColorSpace, dict.getKey("/ColorSpace"));
    } else if (appearance || HasName(subtype, "/Form")) {
      H group = dict.getKey("/Group");
      need(group, "form group");
      if (group.isDictionary()) child(out, Kind::kColorSpace, group.getKey("/CS"));
      child(out, Kind::kResources, dict.getKey("/Resources"));
    } else if (!HasName(subtype, "/PS")) {
      warn("XObject " + Describe(xo) + " has no known /Subtype; skipped");
      return;
    }
    if (includeOPI) opi(dict.getKey("/OPI"), out);
  }

  // OPI version dictionaries name the inks of the replaced image: 1.3's
  // /Inks is [/monochrome name tint ...], 2.0's an array of names.
  void opi(H versions, Items& out) {
    if (!versions.isDictionary()) return;
    for (const char* version : {"/1.3", "/2.0"}) {
      H dict = versions.getKey(version);
      if (!dict.isDictionary()) continue;
      H inks = dict.getKey("/Inks");
      if (!inks.isArray()) continue;  // /full_color, /registration: no named inks
      for (auto& item : inks.aitems()) {
        if (item.isString()) {
          std::string name = item.getUTF8Value();
          if (!name.empty() && !IsProcessName(name) && !IsNoInk(name)) ink(out, name, false);
        } else if (item.isName() && !HasName(item, "/monochrome") && !HasName(item, "/full_color") &&
                   !HasName(item, "/registration")) {
          colorant(item, false, out);
        }
      }
    }
  }

  void font(H font, Items& out) {
    if (!font.isDictionary()) {
      warn("font " + Describe(font) + " is not a dictionary; skipped");
      return;
    }
    if (HasName(font.getKey("/Subtype"), "/Type3")) child(out, Kind::kResources, font.getKey("/Resources"));
  }

  void extGState(H gs, Items& out) {
    if (!gs.isDictionary()) {
      warn("ExtGState " + Describe(gs) + " is not a dictionary; skipped");
      return;
    }
    H mask = gs.getKey("/SMask");
    need(mask, "soft mask");
    if (mask.isDictionary()) child(out, Kind::kAppearance, mask.getKey("/G"));
  }

  void annotations(H annots, Items& out) {
    need(annots, "/Annots");
    if (!annots.isInitialized() || annots.isNull()) return;
    if (!annots.isArray()) {
      warn("/Annots is not an array; skipped");
      return;
    }
    size_t seen = 0;
    for (auto& annot : annots.aitems()) {
      if (++seen % kAnnotsPerTick == 0) tick();
      guarded([&] { return "annotation " + Describe(annot); },
              [&] {
                need(annot, "annotation");
                if (!annot.isDictionary()) {
                  warn("annotation " + Describe(annot) + " is not a dictionary; skipped");
                  return;
                }
                H flags = annot.getKey("/F");
                long long f = flags.isInteger() ? flags.getIntValue() : 0;
                const bool prints = (f & 4) != 0 && (f & 2) == 0;
                if (!prints) return;
                H ap = annot.getKey("/AP");
                need(ap, "appearance dictionary");
                if (!ap.isDictionary()) return;
                H normal = ap.getKey("/N");
                need(normal, "normal appearance");
                if (normal.isStream()) {
                  child(out, Kind::kAppearance, normal);
                } else if (normal.isDictionary()) {
                  eachValue(normal, "appearance state", Kind::kAppearance, out);
                }
              });
    }
  }

  // --- The walk -------------------------------------------------------------

  // Enters `h` as `kind`, or records what is already known of it.
  void visit(Graph& graph, Kind kind, H& h) {
    need(h, KindName(kind));
    if (!h.isInitialized() || h.isNull()) return;
    tick();
    if (!h.isIndirect()) {
      push(kind, h, nullptr);
      return;
    }
    const Key key{h.getObjGen(), kind};
    if (auto done = graph.groupOf.find(key); done != graph.groupOf.end()) {
      ++stats.cacheHits;
      pending.push_back(Entry{done->second, Entry::kGroup});
      return;
    }
    if (auto entered = openIndex.find(key); entered != openIndex.end()) {
      // In the group being walked: its inks are that group's already.
      Frame& from = frames.back();
      from.low = std::min(from.low, entered->second.index);
      if (entered->second.onPath)
        warn(std::string(KindName(kind)) + " " + Describe(h) + " refers to itself; loop skipped");
      return;
    }
    push(kind, h, &key);
  }

  void push(Kind kind, H& h, const Key* key) {
    if (frames.size() >= maxNesting) {
      abandon(std::make_exception_ptr(Error(
          ErrorCode::kDamaged, "inks: " + std::string(KindName(kind)) + " " + Describe(h) + " is nested deeper than " +
                                   std::to_string(maxNesting) + " objects; the page's inks cannot be told")));
    }
    Frame frame;
    guarded([&] { return std::string(KindName(kind)) + " " + Describe(h); }, [&] { body(kind, h, frame.items); });
    ++stats.objectsWalked;
    if (key != nullptr) {
      frame.indexed = true;
      frame.key = *key;
      frame.index = frame.low = nextIndex++;
      frame.entriesStart = pending.size();
      frame.stackStart = open.size();
      open.push_back(*key);
      openIndex.emplace(*key, OpenObject{frame.index, true});
    }
    frames.push_back(std::move(frame));
  }

  // Leaves the top object; the first object of a group closes the group.
  void pop(Graph& graph) {
    Frame& frame = frames.back();
    const uint32_t low = frame.low;
    if (frame.indexed) {
      openIndex[frame.key].onPath = false;
      if (low == frame.index) {
        closeGroup(graph, frame);
        frames.pop_back();
        return;
      }
    }
    frames.pop_back();
    if (!frames.empty()) frames.back().low = std::min(frames.back().low, low);
  }

  void closeGroup(Graph& graph, const Frame& frame) {
    Group group;
    group.entries.assign(pending.begin() + static_cast<std::ptrdiff_t>(frame.entriesStart), pending.end());
    if (keptEntries < kMaxKeptEntries) {
      std::vector<Entry> list = assemble(graph, group.entries);  // may be abandoned: nothing changed yet
      if (keptEntries + list.size() <= kMaxKeptEntries) {
        keptEntries += list.size();
        group.entries = std::move(list);
        group.complete = true;
      } else {
        keptEntries = kMaxKeptEntries;  // from now on, lists are assembled for pages only
      }
    }
    const uint32_t id = static_cast<uint32_t>(graph.groups.size());
    graph.groups.push_back(std::move(group));
    graph.seen.push_back(0);
    for (size_t i = frame.stackStart; i < open.size(); ++i) {
      graph.groupOf.emplace(open[i], id);
      openIndex.erase(open[i]);
    }
    open.resize(frame.stackStart);
    pending.resize(frame.entriesStart);
    pending.push_back(Entry{id, Entry::kGroup});
  }

  // The inks `entries` lead to, each once, in order; a spot sighting wins
  // over a process one.
  std::vector<Entry> assemble(Graph& graph, const std::vector<Entry>& entries) {
    if (++graph.generation == 0) {
      std::fill(graph.seen.begin(), graph.seen.end(), 0);
      graph.generation = 1;
    }
    if (++inkGeneration == 0) {
      std::fill(inkSeen.begin(), inkSeen.end(), 0);
      inkGeneration = 1;
    }
    inkSeen.resize(names.size(), 0);
    inkAt.resize(names.size(), 0);
    std::vector<Entry> out;
    auto add = [&](const Entry& e) {
      if (inkSeen[e.id] != inkGeneration) {
        inkSeen[e.id] = inkGeneration;
        inkAt[e.id] = static_cast<uint32_t>(out.size());
        out.push_back(e);
      } else if (e.what == Entry::kSpot) {
        out[inkAt[e.id]].what = Entry::kSpot;
      }
    };
    std::vector<std::pair<const Entry*, const Entry*>> todo{{entries.data(), entries.data() + entries.size()}};
    size_t steps = 0, nextTick = kTickEvery;
    while (!todo.empty()) {
      if (todo.back().first == todo.back().second) {
        todo.pop_back();
        continue;
      }
      const Entry e = *todo.back().first++;
      if (++steps >= nextTick) {
        tick();
        nextTick = steps + kTickEvery;
      }
      if (e.what != Entry::kGroup) {
        add(e);
        continue;
      }
      if (graph.seen[e.id] == graph.generation) continue;
      graph.seen[e.id] = graph.generation;
      const Group& group = graph.groups[e.id];
      if (group.complete) {
        for (const Entry& x : group.entries) add(x);
        steps += group.entries.size();
      } else {
        todo.emplace_back(group.entries.data(), group.entries.data() + group.entries.size());
      }
    }
    return out;
  }

  void resetPage() {
    frames.clear();
    pending.clear();
    open.clear();
    openIndex.clear();
    nextIndex = 0;
  }

  // One page's walk; the page's parts are read inside their own steps.
  template <typename Resources, typename PageGroup, typename Annots>
  std::vector<Ink> walkPage(bool opi, Resources&& resources, PageGroup&& group, Annots&& annots) {
    includeOPI = opi;
    abandonedBy = nullptr;
    Graph& graph = graphs[opi ? 1 : 0];
    resetPage();
    std::vector<Ink> found;
    try {
      tick();
      Frame page;
      guarded([] { return std::string("page resources"); }, [&] { child(page.items, Kind::kResources, resources()); });
      guarded([] { return std::string("page group"); },
              [&] {
                H g = group();
                need(g, "page group");
                if (g.isInitialized() && g.isDictionary()) child(page.items, Kind::kColorSpace, g.getKey("/CS"));
              });
      guarded([] { return std::string("page annotations"); }, [&] { annotations(annots(), page.items); });
      frames.push_back(std::move(page));
      while (!frames.empty()) {
        Frame& top = frames.back();
        if (top.next == top.items.size()) {
          pop(graph);
          continue;
        }
        Item item = std::move(top.items[top.next++]);  // `top` may move below
        if (item.isInk) {
          pending.push_back(Entry{item.ink, item.process ? Entry::kProcess : Entry::kSpot});
          continue;
        }
        guarded([&] { return std::string(KindName(item.kind)) + " " + Describe(item.object); },
                [&] { visit(graph, item.kind, item.object); });
      }
      for (const Entry& e : assemble(graph, pending)) found.push_back(Ink{names[e.id], e.what == Entry::kProcess});
    } catch (const Abandoned&) {
      resetPage();
      std::rethrow_exception(std::exchange(abandonedBy, nullptr));
    } catch (...) {
      resetPage();  // out of memory outside a step
      throw;
    }
    resetPage();
    return found;
  }
};

struct InkWalker::Impl : Walk<QPDFObjectHandle> {
  using Walk::Walk;
};
struct ReaderInkWalker::Impl : Walk<reader::ObjectHandle> {
  using Walk::Walk;
};

InkWalker::InkWalker(Diagnostics diagnostics, Checkpoint checkpoint, size_t maxNesting)
    : impl_(std::make_unique<Impl>(std::move(diagnostics), std::move(checkpoint), maxNesting)) {}

InkWalker::~InkWalker() = default;

InkWalker::Stats InkWalker::stats() const { return impl_->stats; }

void InkWalker::setObjectCheck(const ObjectCheck* check) { impl_->check = check; }

ReaderInkWalker::ReaderInkWalker(Diagnostics diagnostics, Checkpoint checkpoint, size_t maxNesting)
    : impl_(std::make_unique<Impl>(std::move(diagnostics), std::move(checkpoint), maxNesting)) {}

ReaderInkWalker::~ReaderInkWalker() = default;

std::vector<Ink> ReaderInkWalker::pageInks(const PageParts& parts, bool includeOPI) {
  return impl_->walkParts(parts, includeOPI);
}

std::vector<Ink> InkWalker::pageInks(QPDFObjectHandle page, bool includeOPI) {
  try {
    if (!page.isInitialized() || !page.isDictionary()) {
      impl_->warn("page " + Describe(page) + " is not a dictionary; no inks");
      return {};
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    impl_->warn(std::string("page walk stopped: ") + e.what());
    return {};
  } catch (...) {
    impl_->warn("page walk stopped: unknown error");
    return {};
  }
  return impl_->walkPage(
      includeOPI, [&] { return InheritedAttribute(page, Attribute::kResources, RepairPolicy()); },
      [&] { return page.getKey("/Group"); }, [&] { return page.getKey("/Annots"); });
}

std::vector<Ink> InkWalker::pageInks(const PageParts& parts, bool includeOPI) {
  return impl_->walkParts(parts, includeOPI);
}

}  // namespace pdfparse::document
