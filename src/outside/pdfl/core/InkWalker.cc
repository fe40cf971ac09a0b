#include "outside/pdfl/core/InkWalker.h"

#include <qpdf/QPDFObjGen.hh>

#include <exception>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "outside/pdfl/core/TextString.h"

namespace pdfcore {
namespace {

// Nesting of resources, forms, patterns and colour spaces. Real files stay
// far below this; a deeper chain is damaged or hostile.
constexpr int kMaxInkDepth = 64;

// Thrown through the walk when the Checkpoint abandons it, so that the
// per-item handlers, which swallow structure errors, let it pass.
struct Abandoned {};

enum class Kind {
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
    case Kind::kResources: return "resources";
    case Kind::kColorSpace: return "colour space";
    case Kind::kShading: return "shading";
    case Kind::kPattern: return "pattern";
    case Kind::kXObject: return "XObject";
    case Kind::kAppearance: return "appearance stream";
    case Kind::kFont: return "font";
    case Kind::kExtGState: return "ExtGState";
  }
  return "object";
}

std::string Describe(QPDFObjectHandle h) {
  if (!h.isInitialized()) return "missing object";
  if (h.isIndirect()) {
    QPDFObjGen og = h.getObjGen();
    return std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " R";
  }
  return "direct object";
}

// Inks in the order found, each name once; a spot sighting wins over a
// process one. `incomplete` marks a list that lacks part of its subtree
// (a loop, the depth bound, an object already walked on this page whose
// inks are not cached), so that it must not be cached.
struct InkList {
  std::vector<Ink> inks;
  std::unordered_map<std::string, size_t> index;
  bool incomplete = false;

  void add(const std::string& name, bool process) {
    auto [it, inserted] = index.emplace(name, inks.size());
    if (inserted) {
      inks.push_back(Ink{name, process});
    } else if (!process) {
      inks[it->second].process = false;
    }
  }
  void merge(const std::vector<Ink>& other) {
    for (const Ink& ink : other) add(ink.name, ink.process);
  }
};

bool IsProcessName(std::string_view name) {
  return name == "Cyan" || name == "Magenta" || name == "Yellow" || name == "Black";
}

bool IsNoInk(std::string_view name) { return name == "All" || name == "None"; }

bool HasName(QPDFObjectHandle h, std::string_view name) { return h.isName() && h.getName() == name; }

}  // namespace

struct InkWalker::Impl {
  using Key = std::pair<QPDFObjGen, Kind>;

  Diagnostics diagnostics;
  Checkpoint checkpoint;
  Stats stats;
  // Inks of complete walks of indirect objects, one cache per includeOPI.
  std::map<Key, std::vector<Ink>> cache[2];

  // Per page.
  bool includeOPI = false;
  std::map<Key, bool> visited;  // true once the object's walk has ended
  std::exception_ptr abandonedBy;

  void warn(const std::string& message) {
    if (!diagnostics) return;
    try {
      diagnostics("inks: " + message);
    } catch (...) {
      // A failing diagnostics sink must not turn into a failed page.
    }
  }

  void tick() {
    if (!checkpoint) return;
    try {
      checkpoint();
    } catch (...) {
      abandonedBy = std::current_exception();
      throw Abandoned{};
    }
  }

  // Runs one step of the walk; structure errors skip that step only.
  // `what` names the step, built only when it is needed.
  template <typename What, typename Fn>
  void guarded(What&& what, InkList& out, Fn&& fn) {
    try {
      fn();
    } catch (const Abandoned&) {
      throw;
    } catch (const std::exception& e) {
      out.incomplete = true;
      skipped(what, e.what());
    } catch (...) {
      out.incomplete = true;
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

  // Each value of a resource category dictionary (/ColorSpace, /XObject...).
  template <typename Fn>
  void eachValue(QPDFObjectHandle dict, const char* category, InkList& out, Fn&& fn) {
    if (dict.isNull()) return;
    if (!dict.isDictionary()) {
      warn(std::string(category) + " is not a dictionary; skipped");
      return;
    }
    for (auto& item : dict.ditems()) {
      const std::string& key = item.first;
      QPDFObjectHandle& value = item.second;
      guarded([&] { return std::string(category) + " " + key; }, out, [&] { fn(value); });
    }
  }

  void colorant(QPDFObjectHandle name, bool process, InkList& out) {
    if (!name.isName()) {
      warn("colorant " + Describe(name) + " is not a name; skipped");
      return;
    }
    // getName() has #xx decoded; bytes that are not UTF-8 are read as
    // PDFDocEncoding, as for every other name the library reports.
    std::string text = DecodeNameText(name.getName());
    if (text.empty()) {
      warn("empty colorant name; skipped");
      return;
    }
    if (IsProcessName(text) || IsNoInk(text)) return;
    out.add(text, process);
  }

  // Walks `h` as `kind`: indirect objects once per page, complete results
  // cached for the document.
  void node(Kind kind, QPDFObjectHandle h, int depth, InkList& out) {
    if (!h.isInitialized() || h.isNull()) return;
    if (depth > kMaxInkDepth) {
      warn(std::string(KindName(kind)) + " " + Describe(h) + " nested too deeply; skipped");
      out.incomplete = true;
      return;
    }
    tick();
    if (!h.isIndirect()) {
      guarded([&] { return std::string(KindName(kind)) + " " + Describe(h); }, out,
              [&] { body(kind, h, depth, out); });
      return;
    }
    Key key{h.getObjGen(), kind};
    auto& done = cache[includeOPI ? 1 : 0];
    if (auto it = done.find(key); it != done.end()) {
      ++stats.cacheHits;
      out.merge(it->second);
      return;
    }
    auto [seen, first] = visited.emplace(key, false);
    if (!first) {
      // Its inks are already on this page; this subtree's own list lacks them.
      if (!seen->second) warn(std::string(KindName(kind)) + " " + Describe(h) + " refers to itself; loop skipped");
      out.incomplete = true;
      return;
    }
    InkList local;
    guarded([&] { return std::string(KindName(kind)) + " " + Describe(h); }, local,
            [&] { body(kind, h, depth, local); });
    visited[key] = true;
    if (!local.incomplete) done.emplace(key, local.inks);
    out.merge(local.inks);
    out.incomplete = out.incomplete || local.incomplete;
  }

  void body(Kind kind, QPDFObjectHandle h, int depth, InkList& out) {
    switch (kind) {
      case Kind::kResources: resources(h, depth, out); break;
      case Kind::kColorSpace: colorSpace(h, depth, out); break;
      case Kind::kShading: shading(h, depth, out); break;
      case Kind::kPattern: pattern(h, depth, out); break;
      case Kind::kXObject: xobject(h, depth, out, false); break;
      case Kind::kAppearance: xobject(h, depth, out, true); break;
      case Kind::kFont: font(h, depth, out); break;
      case Kind::kExtGState: extGState(h, depth, out); break;
    }
  }

  void resources(QPDFObjectHandle res, int depth, InkList& out) {
    if (!res.isDictionary()) {
      warn("resources " + Describe(res) + " is not a dictionary; skipped");
      return;
    }
    ++stats.resourceWalks;
    int next = depth + 1;
    eachValue(res.getKey("/ColorSpace"), "/ColorSpace", out,
              [&](QPDFObjectHandle v) { node(Kind::kColorSpace, v, next, out); });
    eachValue(res.getKey("/Shading"), "/Shading", out,
              [&](QPDFObjectHandle v) { node(Kind::kShading, v, next, out); });
    eachValue(res.getKey("/Pattern"), "/Pattern", out,
              [&](QPDFObjectHandle v) { node(Kind::kPattern, v, next, out); });
    eachValue(res.getKey("/XObject"), "/XObject", out,
              [&](QPDFObjectHandle v) { node(Kind::kXObject, v, next, out); });
    eachValue(res.getKey("/Font"), "/Font", out,
              [&](QPDFObjectHandle v) { node(Kind::kFont, v, next, out); });
    eachValue(res.getKey("/ExtGState"), "/ExtGState", out,
              [&](QPDFObjectHandle v) { node(Kind::kExtGState, v, next, out); });
  }

  void colorSpace(QPDFObjectHandle cs, int depth, InkList& out) {
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
      deviceN(cs, depth, out);
    } else if (family == "/Indexed" || family == "/I" || family == "/Pattern") {
      if (n >= 2) {
        node(Kind::kColorSpace, cs.getArrayItem(1), depth + 1, out);
      } else if (family != "/Pattern") {
        warn("Indexed " + Describe(cs) + " has no base; skipped");
      }
    } else if (family == "/DeviceGray" || family == "/DeviceRGB" || family == "/DeviceCMYK" ||
               family == "/CalGray" || family == "/CalRGB" || family == "/Lab" ||
               family == "/ICCBased") {
      // Process colours only.
    } else {
      warn("colour space " + Describe(cs) + " of unknown family " + family + "; skipped");
    }
  }

  void deviceN(QPDFObjectHandle cs, int depth, InkList& out) {
    QPDFObjectHandle names = cs.getArrayItem(1);
    if (!names.isArray()) {
      warn("DeviceN " + Describe(cs) + " has no colorant array; skipped");
      return;
    }
    QPDFObjectHandle attrs = cs.getArrayNItems() >= 5 ? cs.getArrayItem(4) : QPDFObjectHandle::newNull();
    std::set<std::string> processNames;
    if (attrs.isDictionary() && HasName(attrs.getKey("/Subtype"), "/NChannel")) {
      QPDFObjectHandle components = attrs.getKey("/Process");
      components = components.isDictionary() ? components.getKey("/Components") : QPDFObjectHandle::newNull();
      if (components.isArray()) {
        for (auto& c : components.aitems()) {
          if (c.isName()) processNames.insert(c.getName());
        }
      }
    }
    for (auto& item : names.aitems()) {
      guarded([&] { return "DeviceN " + Describe(cs) + " colorant"; }, out, [&] {
        bool process = item.isName() && processNames.count(item.getName()) > 0;
        colorant(item, process, out);
      });
    }
    if (attrs.isDictionary()) {
      eachValue(attrs.getKey("/Colorants"), "/Colorants", out,
                [&](QPDFObjectHandle v) { node(Kind::kColorSpace, v, depth + 1, out); });
    }
  }

  void shading(QPDFObjectHandle sh, int depth, InkList& out) {
    if (!sh.isDictionary() && !sh.isStream()) {
      warn("shading " + Describe(sh) + " is not a dictionary; skipped");
      return;
    }
    QPDFObjectHandle dict = sh.isStream() ? sh.getDict() : sh;
    node(Kind::kColorSpace, dict.getKey("/ColorSpace"), depth + 1, out);
  }

  void pattern(QPDFObjectHandle pat, int depth, InkList& out) {
    if (!pat.isDictionary() && !pat.isStream()) {
      warn("pattern " + Describe(pat) + " is not a dictionary; skipped");
      return;
    }
    QPDFObjectHandle dict = pat.isStream() ? pat.getDict() : pat;
    QPDFObjectHandle type = dict.getKey("/PatternType");
    if (type.isInteger() && type.getIntValue() == 1) {
      node(Kind::kResources, dict.getKey("/Resources"), depth + 1, out);
    } else if (type.isInteger() && type.getIntValue() == 2) {
      node(Kind::kShading, dict.getKey("/Shading"), depth + 1, out);
      node(Kind::kExtGState, dict.getKey("/ExtGState"), depth + 1, out);
    } else {
      warn("pattern " + Describe(pat) + " has no valid /PatternType; skipped");
    }
  }

  void xobject(QPDFObjectHandle xo, int depth, InkList& out, bool appearance) {
    if (!xo.isStream()) {
      warn(std::string(appearance ? "appearance " : "XObject ") + Describe(xo) + " is not a stream; skipped");
      return;
    }
    QPDFObjectHandle dict = xo.getDict();  // the dictionary only: never decoded
    QPDFObjectHandle subtype = dict.getKey("/Subtype");
    if (HasName(subtype, "/Image")) {
      node(Kind::kColorSpace, dict.getKey("/ColorSpace"), depth + 1, out);
    } else if (appearance || HasName(subtype, "/Form")) {
      QPDFObjectHandle group = dict.getKey("/Group");
      if (group.isDictionary()) node(Kind::kColorSpace, group.getKey("/CS"), depth + 1, out);
      node(Kind::kResources, dict.getKey("/Resources"), depth + 1, out);
    } else if (!HasName(subtype, "/PS")) {
      warn("XObject " + Describe(xo) + " has no known /Subtype; skipped");
      return;
    }
    if (includeOPI) opi(dict.getKey("/OPI"), out);
  }

  // OPI version dictionaries name the inks of the replaced image: 1.3's
  // /Inks is [/monochrome name tint ...], 2.0's an array of names.
  void opi(QPDFObjectHandle versions, InkList& out) {
    if (!versions.isDictionary()) return;
    for (const char* version : {"/1.3", "/2.0"}) {
      QPDFObjectHandle dict = versions.getKey(version);
      if (!dict.isDictionary()) continue;
      QPDFObjectHandle inks = dict.getKey("/Inks");
      if (!inks.isArray()) continue;  // /full_color, /registration: no named inks
      for (auto& item : inks.aitems()) {
        if (item.isString()) {
          std::string name = item.getUTF8Value();
          if (!name.empty() && !IsProcessName(name) && !IsNoInk(name)) out.add(name, false);
        } else if (item.isName() && !HasName(item, "/monochrome") && !HasName(item, "/full_color") &&
                   !HasName(item, "/registration")) {
          colorant(item, false, out);
        }
      }
    }
  }

  void font(QPDFObjectHandle font, int depth, InkList& out) {
    if (!font.isDictionary()) {
      warn("font " + Describe(font) + " is not a dictionary; skipped");
      return;
    }
    if (HasName(font.getKey("/Subtype"), "/Type3")) {
      node(Kind::kResources, font.getKey("/Resources"), depth + 1, out);
    }
  }

  void extGState(QPDFObjectHandle gs, int depth, InkList& out) {
    if (!gs.isDictionary()) {
      warn("ExtGState " + Describe(gs) + " is not a dictionary; skipped");
      return;
    }
    QPDFObjectHandle mask = gs.getKey("/SMask");
    if (mask.isDictionary()) node(Kind::kAppearance, mask.getKey("/G"), depth + 1, out);
  }

  // One page's walk; the page's parts are read inside their own steps.
  template <typename Resources, typename Group, typename Annots>
  std::vector<Ink> walkPage(bool opi, Resources&& resources, Group&& group, Annots&& annots);

  void annotations(QPDFObjectHandle annots, InkList& out) {
    if (!annots.isInitialized() || annots.isNull()) return;
    if (!annots.isArray()) {
      warn("/Annots is not an array; skipped");
      return;
    }
    for (auto& annot : annots.aitems()) {
      guarded([&] { return "annotation " + Describe(annot); }, out, [&] {
        tick();
        if (!annot.isDictionary()) {
          warn("annotation " + Describe(annot) + " is not a dictionary; skipped");
          return;
        }
        QPDFObjectHandle flags = annot.getKey("/F");
        long long f = flags.isInteger() ? flags.getIntValue() : 0;
        const bool prints = (f & 4) != 0 && (f & 2) == 0;
        if (!prints) return;
        QPDFObjectHandle ap = annot.getKey("/AP");
        if (!ap.isDictionary()) return;
        QPDFObjectHandle normal = ap.getKey("/N");
        if (normal.isStream()) {
          node(Kind::kAppearance, normal, 1, out);
        } else if (normal.isDictionary()) {
          eachValue(normal, "appearance state", out,
                    [&](QPDFObjectHandle v) { node(Kind::kAppearance, v, 1, out); });
        }
      });
    }
  }
};

template <typename Resources, typename Group, typename Annots>
std::vector<Ink> InkWalker::Impl::walkPage(bool opi, Resources&& resources, Group&& group, Annots&& annots) {
  includeOPI = opi;
  visited.clear();
  abandonedBy = nullptr;
  InkList found;
  try {
    guarded([] { return std::string("page resources"); }, found,
            [&] { node(Kind::kResources, resources(), 0, found); });
    guarded([] { return std::string("page group"); }, found, [&] {
      QPDFObjectHandle g = group();
      if (g.isInitialized() && g.isDictionary()) node(Kind::kColorSpace, g.getKey("/CS"), 1, found);
    });
    guarded([] { return std::string("page annotations"); }, found, [&] { annotations(annots(), found); });
  } catch (const Abandoned&) {
    visited.clear();
    std::exception_ptr cause = std::exchange(abandonedBy, nullptr);
    std::rethrow_exception(cause);
  } catch (const std::exception& e) {
    warn(std::string("page walk stopped: ") + e.what());
  } catch (...) {
    warn("page walk stopped: unknown error");
  }
  visited.clear();
  return std::move(found.inks);
}

InkWalker::InkWalker(Diagnostics diagnostics, Checkpoint checkpoint) : impl_(std::make_unique<Impl>()) {
  impl_->diagnostics = std::move(diagnostics);
  impl_->checkpoint = std::move(checkpoint);
}

InkWalker::~InkWalker() = default;

InkWalker::Stats InkWalker::stats() const { return impl_->stats; }

std::vector<Ink> InkWalker::pageInks(QPDFObjectHandle page, bool includeOPI) {
  try {
    if (!page.isInitialized() || !page.isDictionary()) {
      impl_->warn("page " + Describe(page) + " is not a dictionary; no inks");
      return {};
    }
  } catch (const std::exception& e) {
    impl_->warn(std::string("page walk stopped: ") + e.what());
    return {};
  } catch (...) {
    impl_->warn("page walk stopped: unknown error");
    return {};
  }
  return impl_->walkPage(
      includeOPI, [&] { return InheritedAttribute(page, "/Resources"); }, [&] { return page.getKey("/Group"); },
      [&] { return page.getKey("/Annots"); });
}

std::vector<Ink> InkWalker::pageInks(const PageParts& parts, bool includeOPI) {
  return impl_->walkPage(
      includeOPI, [&] { return parts.resources; }, [&] { return parts.group; }, [&] { return parts.annots; });
}

}  // namespace pdfcore
