// A PdflEngine double. It serves documents described in memory (pages with
// rotation, boxes and inks; information entries; a password), fails opens by
// file-name substring, raises PdflException at the N-th call of an entry
// point, and logs every call. Stale or foreign handles raise instead of
// being used.
//
// It installs itself for its lifetime (a double that breaks single calls of
// another engine derives from pdfl::PdflEngineWrapper and is installed with
// ScopedPdflEngine). It takes no lock: only the worker calls
// it while the test runs inquiries, and the test reads it after an answer,
// which orders the accesses. Script it before the worker starts.
#ifndef PDFPARSE_TESTS_SUPPORT_SCRIPTEDENGINE_H_
#define PDFPARSE_TESTS_SUPPORT_SCRIPTEDENGINE_H_

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "outside/pdfl/PdflEngine.h"
#include "outside/pdfl/PdflErrors.h"

namespace pdfparse::test {

// Installs an engine for the scope's lifetime.
class ScopedPdflEngine {
 public:
  explicit ScopedPdflEngine(pdfl::PdflEngine* engine) : previous_(pdfl::SetPdflEngineForTesting(engine)) {}
  ~ScopedPdflEngine() { pdfl::SetPdflEngineForTesting(previous_); }
  ScopedPdflEngine(const ScopedPdflEngine&) = delete;
  ScopedPdflEngine& operator=(const ScopedPdflEngine&) = delete;

 private:
  pdfl::PdflEngine* previous_;
};

// Fixed-point rectangle from whole points (left, top, right, bottom).
inline ASFixedRect FixedRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {ASInt32ToFixed(left), ASInt32ToFixed(top), ASInt32ToFixed(right), ASInt32ToFixed(bottom)};
}

struct ScriptedPage {
  ASInt16 rotate = 0;
  ASFixedRect mediaBox = FixedRect(0, 792, 612, 0);
  ASFixedRect cropBox = FixedRect(0, 792, 612, 0);
  double userUnit = 1.0;
  std::vector<std::pair<std::string, bool>> inks;  // name, process colour; reported in order
};

struct ScriptedDoc {
  std::vector<ScriptedPage> pages;
  std::map<std::string, std::string> info;
  std::string password;               // non-empty: opens only when PDDocAuthorize gets it
  ASInt32 grantedPerms = pdPermOpen;  // what the right password grants
  static ScriptedDoc WithPages(int n) {
    ScriptedDoc doc;
    doc.pages.resize(static_cast<size_t>(std::max(0, n)));
    return doc;
  }
};

class ScriptedEngine : public pdfl::PdflEngine {
 public:
  enum Kind { kPath, kDoc, kPage };

  // --- Script ----------------------------------------------------------------
  // Documents by exact path; other paths open `defaultDoc` when set, else
  // raise kFileNotFound.
  std::map<std::string, ScriptedDoc> docs;
  std::optional<ScriptedDoc> defaultDoc;
  ASInt32 initResult = 0;  // of PDFLInit; 0 starts the library
  ASUns32 purgeResult = 0;
  // Opens of a path containing one of these raise kDamaged.
  std::vector<std::string> failOpen;
  // The `nth` call (1-based, counted since the last reset) of the entry
  // point `name` raises, once.
  void raiseAt(const std::string& name, int nth, ASErrorCode code = pdfl::err::kInternal,
               const std::string& message = "scripted exception") {
    rules_.push_back({name, nth, code, message});
  }

  // --- Observations ------------------------------------------------------------
  // Calls since the last reset, e.g. "PDDocAcquirePage(2)",
  // "PDDocGetInfo(Title,13)", "ASPurgeMemory(500)", and "ink(Gold)" for each
  // ink handed to the callback.
  std::vector<std::string> log;
  // Log entries equal to `what` or starting with `what(`.
  int calls(const std::string& what) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& entry) {
      return entry == what || entry.rfind(what + "(", 0) == 0;
    }));
  }
  void reset() { log.clear(), counts_.clear(); }
  int held(Kind kind) const {
    return static_cast<int>(std::count_if(live_.begin(), live_.end(), [&](auto& h) { return h.second->kind == kind; }));
  }
  // What the last PDFLInit received: entries up to their terminator,
  // nullopt for a null entry.
  struct InitSeen {
    ASUns32 size = 0, flags = 0;
    bool hadList = false;
    ASInt32 dirListLen = 0;
    std::vector<std::optional<std::u16string>> dirs;
  };
  std::optional<InitSeen> lastInit;

  // --- PdflEngine ----------------------------------------------------------------
  ASInt32 PDFLInit(PDFLDataRec* d) override {
    enter("PDFLInit");
    lastInit = InitSeen{d->size, d->flags, d->dirList != nullptr, d->dirListLen, {}};
    for (ASInt32 i = 0; d->dirList != nullptr && i < d->dirListLen; ++i) {
      const ASUTF16Val* entry = d->dirList[i];
      auto& dir = lastInit->dirs.emplace_back();
      if (entry != nullptr) dir.emplace();
      for (const ASUTF16Val* unit = entry; unit != nullptr && *unit != 0; ++unit) dir->push_back(*unit);
    }
    if (initResult == 0) ++initCount_;
    return initResult;
  }
  ASInt32 PDFLGetInitCount() override { return enter("PDFLGetInitCount"), initCount_; }
  void PDFLTerm() override { enter("PDFLTerm"), initCount_ = std::max(0, initCount_ - 1); }
  ASBool PDFLWaitForTermination(ASUns32 maxMillis) override {
    return enter("PDFLWaitForTermination(" + std::to_string(maxMillis) + ")"), 1;
  }
  void CosSetMaxDocStorage(ASInt32 bytes) override { enter("CosSetMaxDocStorage", std::to_string(bytes)); }
  ASUns32 ASPurgeMemory(ASUns32 bytes) override { return enter("ASPurgeMemory", std::to_string(bytes)), purgeResult; }
  ASAtom ASAtomFromString(const char* text) override { return enter("ASAtomFromString", text), intern(text); }
  const char* ASAtomGetString(ASAtom atom) override {
    enter("ASAtomGetString", std::to_string(atom));
    return atom == ASAtomNull || atom > atoms_.size() ? "" : atoms_[atom - 1].c_str();
  }
  ASPathName ASFileSysCreatePathName(ASFileSys, ASAtom, const void* pathSpec, const void*) override {
    enter("ASFileSysCreatePathName", static_cast<const char*>(pathSpec));
    return static_cast<ASPathName>(add(Handle{kPath, static_cast<const char*>(pathSpec), {}, true, -1, {}}));
  }
  void ASFileSysReleasePathName(ASFileSys, ASPathName path) override {
    enter("ASFileSysReleasePathName"), live_.erase(&find(path, kPath));
  }
  PDDoc PDDocOpenEx(ASPathName path, ASFileSys, PDAuthProc authProc, void* clientData, ASBool) override {
    const std::string name = live_.count(path) ? live_[path]->path : "?";
    enter("PDDocOpenEx", name);
    find(path, kPath);
    for (const std::string& failure : failOpen)
      if (name.find(failure) != std::string::npos)
        throw pdfl::PdflException(pdfl::err::kDamaged, "scripted open failure");
    if (!docs.count(name) && !defaultDoc)
      throw pdfl::PdflException(pdfl::err::kFileNotFound, "file not found: " + name);
    auto* doc = static_cast<PDDoc>(add(Handle{kDoc, name, docs.count(name) ? docs[name] : *defaultDoc, true, -1, {}}));
    Handle& open = find(doc, kDoc);
    open.authorized = open.doc.password.empty();
    // The callback authorises through PDDocAuthorize.
    if (open.authorized || (authProc != nullptr && authProc(doc, clientData) != 0 && open.authorized)) return doc;
    live_.erase(doc);
    throw pdfl::PdflException(pdfl::err::kPassword, "scripted engine: password required");
  }
  ASInt32 PDDocAuthorize(PDDoc doc, ASInt32, void* authData) override {
    const std::string password = static_cast<const char*>(authData);
    enter("PDDocAuthorize", password);
    Handle& open = find(doc, kDoc);
    if (open.doc.password != password) return 0;
    open.authorized = (open.doc.grantedPerms & pdPermOpen) != 0;
    return open.doc.grantedPerms;
  }
  void PDDocClose(PDDoc doc) override { enter("PDDocClose"), live_.erase(&find(doc, kDoc)); }
  ASInt32 PDDocGetNumPages(PDDoc doc) override {
    return enter("PDDocGetNumPages"), static_cast<ASInt32>(find(doc, kDoc).doc.pages.size());
  }
  ASInt32 PDDocGetInfo(PDDoc doc, const char* key, char* buffer, ASInt32 bufSize) override {
    enter("PDDocGetInfo", std::string(key) + "," + std::to_string(bufSize));
    const auto& info = find(doc, kDoc).doc.info;
    if (!info.count(key)) return 0;
    const std::string& value = info.at(key);
    if (buffer != nullptr && bufSize > 0)
      buffer[value.copy(buffer, std::min(value.size(), static_cast<size_t>(bufSize - 1)))] = '\0';
    return static_cast<ASInt32>(value.size());
  }
  PDPage PDDocAcquirePage(PDDoc doc, ASInt32 index) override {
    enter("PDDocAcquirePage", std::to_string(index));
    const auto& pages = find(doc, kDoc).doc.pages;
    if (index < 0 || static_cast<size_t>(index) >= pages.size())
      throw pdfl::PdflException(pdfl::err::kBadPage, "page index out of range: " + std::to_string(index));
    return static_cast<PDPage>(add(Handle{kPage, "", {}, true, index, pages[static_cast<size_t>(index)]}));
  }
  void PDPageRelease(PDPage page) override {
    enter("PDPageRelease", std::to_string(live_.count(page) ? live_[page]->index : -1));
    live_.erase(&find(page, kPage));
  }
  ASInt16 PDPageGetRotate(PDPage page) override { return enter("PDPageGetRotate"), find(page, kPage).page.rotate; }
  void PDPageGetMediaBox(PDPage page, ASFixedRect* box) override {
    enter("PDPageGetMediaBox"), *box = find(page, kPage).page.mediaBox;
  }
  void PDPageGetCropBox(PDPage page, ASFixedRect* box) override {
    enter("PDPageGetCropBox"), *box = find(page, kPage).page.cropBox;
  }
  double PDPageGetUserUnit(PDPage page) override { return enter("PDPageGetUserUnit"), find(page, kPage).page.userUnit; }
  void PDPageEnumInksEx(PDPage page, PDPageEnumInksCallback proc, void* clientData, ASBool, ASAtom) override {
    const Handle& held = find(page, kPage);
    enter("PDPageEnumInksEx", std::to_string(held.index));
    for (const auto& [name, process] : held.page.inks) {
      PDPageInkRec ink{sizeof(PDPageInkRec), intern(name.c_str()), static_cast<ASBool>(process ? 1 : 0), 1};
      log.push_back("ink(" + name + ")");
      if (proc(&ink, clientData) == 0) break;
    }
  }

 private:
  struct Handle {
    Kind kind;
    std::string path;
    ScriptedDoc doc;  // kDoc
    bool authorized = true;
    int index = -1;     // kPage
    ScriptedPage page;  // kPage
  };
  struct Rule {
    std::string name;
    int nth;
    ASErrorCode code;
    std::string message;
  };

  // Logs the call and raises when a rule says so.
  void enter(const std::string& name, const std::string& args = "") {
    log.push_back(args.empty() ? name : name + "(" + args + ")");
    const int n = ++counts_[name];
    auto rule = std::find_if(rules_.begin(), rules_.end(), [&](const Rule& r) { return r.name == name && r.nth == n; });
    if (rule == rules_.end()) return;
    pdfl::PdflException raised(rule->code, rule->message);
    rules_.erase(rule);
    throw raised;
  }
  void* add(Handle handle) {
    auto owned = std::make_unique<Handle>(std::move(handle));
    void* key = owned.get();
    live_[key] = std::move(owned);
    return key;
  }
  Handle& find(const void* handle, Kind kind) {
    auto it = live_.find(handle);
    if (it == live_.end() || it->second->kind != kind)
      throw pdfl::PdflException(pdfl::err::kBadParameter, "scripted engine: not a live handle of that kind");
    return *it->second;
  }
  ASAtom intern(const char* text) {
    auto it = std::find(atoms_.begin(), atoms_.end(), text);
    if (it == atoms_.end()) it = atoms_.insert(atoms_.end(), text);
    return static_cast<ASAtom>(it - atoms_.begin() + 1);
  }

  std::vector<Rule> rules_;
  std::map<std::string, int> counts_;
  std::map<const void*, std::unique_ptr<Handle>> live_;
  std::deque<std::string> atoms_;  // stable addresses for ASAtomGetString
  int initCount_ = 0;
  ScopedPdflEngine installed_{this};
};

}  // namespace pdfparse::test

#endif  // PDFPARSE_TESTS_SUPPORT_SCRIPTEDENGINE_H_
