#include "support/ScriptedEngine.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace testing_support {

namespace {

// The log keeps the first calls only, so long stress runs stay bounded.
constexpr size_t kMaxLogEntries = 200000;

bool IsLifetimeCall(PdflCall call) {
  // The document object makes these outside protected blocks; the engine
  // contract says they do not raise, so the script never makes them raise.
  return call == PdflCall::PDFLInit || call == PdflCall::PDFLGetInitCount ||
         call == PdflCall::PDFLTerm || call == PdflCall::CosSetMaxDocStorage;
}

}  // namespace

const char* PdflCallName(PdflCall call) {
  static const char* const kNames[] = {
      "PDFLInit",         "PDFLGetInitCount",         "PDFLTerm",
      "CosSetMaxDocStorage", "ASPurgeMemory",         "ASAtomFromString",
      "ASAtomGetString",  "ASFileSysCreatePathName",  "ASFileSysReleasePathName",
      "PDDocOpenEx",      "PDDocAuthorize",           "PDDocClose",
      "PDDocGetNumPages", "PDDocGetInfo",             "PDDocAcquirePage",
      "PDPageRelease",    "PDPageGetRotate",          "PDPageGetMediaBox",
      "PDPageGetCropBox", "PDPageEnumInksEx",
  };
  static_assert(sizeof(kNames) / sizeof(kNames[0]) == static_cast<size_t>(PdflCall::kCount));
  auto i = static_cast<size_t>(call);
  return i < static_cast<size_t>(PdflCall::kCount) ? kNames[i] : "?";
}

ASFixedRect FixedRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return ASFixedRect{ASInt32ToFixed(left), ASInt32ToFixed(top), ASInt32ToFixed(right),
                     ASInt32ToFixed(bottom)};
}

ScriptedDoc ScriptedDoc::WithPages(int n) {
  ScriptedDoc doc;
  doc.pages.resize(static_cast<size_t>(std::max(0, n)));
  return doc;
}

struct ScriptedEngine::OpenDoc {
  ScriptedDoc doc;
  std::string path;
  bool authorized = false;
};

struct ScriptedEngine::OpenPage {
  OpenDoc* doc;
  int index;
};

struct ScriptedEngine::PathRec {
  std::string path;
};

namespace {
// Live handles of all scripted engines, so a stale or foreign handle is an
// error instead of a wild pointer.
std::mutex g_liveMutex;
std::set<const void*> g_live;

void AddLive(const void* p) {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  g_live.insert(p);
}
bool RemoveLive(const void* p) {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  return g_live.erase(p) == 1;
}
bool IsLive(const void* p) {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  return g_live.count(p) == 1;
}
}  // namespace

ScriptedEngine::ScriptedEngine() = default;
ScriptedEngine::~ScriptedEngine() {
  for (PathRec* p : paths_live_) {
    RemoveLive(p);
    delete p;
  }
  for (OpenPage* p : pages_live_) {
    RemoveLive(p);
    delete p;
  }
  for (OpenDoc* d : docs_live_) {
    RemoveLive(d);
    delete d;
  }
}

void ScriptedEngine::addDocument(const std::string& path, ScriptedDoc doc) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  docs_[path] = std::move(doc);
}

void ScriptedEngine::setDefaultDocument(ScriptedDoc doc) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  defaultDoc_ = std::move(doc);
}

void ScriptedEngine::failOpen(const std::string& substring, ASErrorCode code,
                              const std::string& message) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  openFailures_.push_back({substring, Rule{PdflCall::PDDocOpenEx, 0, false, code, message}});
}

void ScriptedEngine::openReturnsNull(const std::string& substring) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  openNulls_.push_back(substring);
}

void ScriptedEngine::raiseAt(PdflCall call, int nth, ASErrorCode code, const std::string& message) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  rules_.push_back(Rule{call, nth, false, code, message});
}

void ScriptedEngine::raiseAtAnyCall(int nth, ASErrorCode code, const std::string& message) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  rules_.push_back(Rule{PdflCall::kCount, nth, true, code, message});
}

void ScriptedEngine::setInitResult(ASInt32 code) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  initResult_ = code;
}

void ScriptedEngine::setPurgeResult(ASUns32 bytes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  purgeResult_ = bytes;
}

int ScriptedEngine::calls(PdflCall call) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return counts_[static_cast<int>(call)];
}

int ScriptedEngine::totalCalls() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return total_;
}

std::vector<std::string> ScriptedEngine::log() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return log_;
}

void ScriptedEngine::resetCounts() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::fill(std::begin(counts_), std::end(counts_), 0);
  total_ = 0;
  log_.clear();
  acquired_.clear();
  released_.clear();
}

int ScriptedEngine::acquired(int index) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = acquired_.find(index);
  return it == acquired_.end() ? 0 : it->second;
}

int ScriptedEngine::released(int index) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = released_.find(index);
  return it == released_.end() ? 0 : it->second;
}

int ScriptedEngine::pagesHeld() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return pagesHeld_;
}

int ScriptedEngine::docsOpen() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return docsOpen_;
}

int ScriptedEngine::pathNamesHeld() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return pathNamesHeld_;
}

int ScriptedEngine::initCount() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return initCount_;
}

std::optional<ScriptedEngine::InitSeen> ScriptedEngine::lastInit() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return lastInit_;
}

std::optional<ASInt32> ScriptedEngine::maxDocStorage() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return maxDocStorage_;
}

std::vector<ASUns32> ScriptedEngine::purgeRequests() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return purges_;
}

void ScriptedEngine::enter(PdflCall call, const std::string& entry) {
  ++counts_[static_cast<int>(call)];
  ++total_;
  if (log_.size() < kMaxLogEntries) log_.push_back(entry);
  if (IsLifetimeCall(call)) return;
  for (Rule& rule : rules_) {
    bool hit = rule.any ? rule.nth == total_
                        : (rule.call == call && rule.nth == counts_[static_cast<int>(call)]);
    if (hit && !rule.fired) {
      rule.fired = true;
      throw PdflException(rule.code, rule.message);
    }
  }
}

ScriptedEngine::OpenDoc* ScriptedEngine::docOf(PDDoc doc) {
  if (doc == nullptr || !IsLive(doc))
    throw PdflException(pdfl_err::kBadParameter, "scripted engine: not an open document");
  return reinterpret_cast<OpenDoc*>(doc);
}

ScriptedEngine::OpenPage* ScriptedEngine::pageOf(PDPage page) {
  if (page == nullptr || !IsLive(page))
    throw PdflException(pdfl_err::kBadParameter, "scripted engine: not an acquired page");
  return reinterpret_cast<OpenPage*>(page);
}

ASInt32 ScriptedEngine::PDFLInit(PDFLDataRec* data) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::PDFLInit, "PDFLInit");
  InitSeen seen;
  if (data != nullptr) {
    seen.size = data->size;
    seen.flags = data->flags;
    seen.hadList = data->dirList != nullptr;
    seen.dirListLen = data->dirListLen;
    if (data->dirList != nullptr) {
      for (ASInt32 i = 0; i < data->dirListLen; ++i) {
        const ASUTF16Val* entry = data->dirList[i];
        if (entry == nullptr) {
          seen.dirs.push_back(std::nullopt);
          continue;
        }
        std::u16string text;
        for (int k = 0; k < kPdflDirEntryUnits && entry[k] != 0; ++k)
          text.push_back(static_cast<char16_t>(entry[k]));
        seen.dirs.push_back(text);
      }
    }
  }
  lastInit_ = seen;
  if (initResult_ == 0) ++initCount_;
  return initResult_;
}

ASInt32 ScriptedEngine::PDFLGetInitCount() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::PDFLGetInitCount, "PDFLGetInitCount");
  return initCount_;
}

void ScriptedEngine::PDFLTerm() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::PDFLTerm, "PDFLTerm");
  if (initCount_ > 0) --initCount_;
}

void ScriptedEngine::CosSetMaxDocStorage(ASInt32 bytes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::CosSetMaxDocStorage, "CosSetMaxDocStorage(" + std::to_string(bytes) + ")");
  maxDocStorage_ = bytes;
}

ASUns32 ScriptedEngine::ASPurgeMemory(ASUns32 bytes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::ASPurgeMemory, "ASPurgeMemory(" + std::to_string(bytes) + ")");
  purges_.push_back(bytes);
  return purgeResult_;
}

ASAtom ScriptedEngine::ASAtomFromString(const char* text) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string s = text ? text : "";
  enter(PdflCall::ASAtomFromString, "ASAtomFromString(" + s + ")");
  return intern(s);
}

ASAtom ScriptedEngine::intern(const std::string& s) {
  auto it = std::find(atoms_.begin(), atoms_.end(), s);
  if (it != atoms_.end()) return static_cast<ASAtom>(it - atoms_.begin() + 1);
  atoms_.push_back(s);
  return static_cast<ASAtom>(atoms_.size());
}

const char* ScriptedEngine::ASAtomGetString(ASAtom atom) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::ASAtomGetString, "ASAtomGetString(" + std::to_string(atom) + ")");
  if (atom == ASAtomNull || atom > atoms_.size()) return "";
  return atoms_[atom - 1].c_str();
}

ASPathName ScriptedEngine::ASFileSysCreatePathName(ASFileSys, ASAtom, const void* pathSpec,
                                                   const void*) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const char* text = static_cast<const char*>(pathSpec);
  enter(PdflCall::ASFileSysCreatePathName,
        std::string("ASFileSysCreatePathName(") + (text ? text : "") + ")");
  auto* rec = new PathRec{text ? text : ""};
  AddLive(rec);
  paths_live_.insert(rec);
  ++pathNamesHeld_;
  return reinterpret_cast<ASPathName>(rec);
}

void ScriptedEngine::ASFileSysReleasePathName(ASFileSys, ASPathName path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::ASFileSysReleasePathName, "ASFileSysReleasePathName");
  if (path == nullptr || !RemoveLive(path))
    throw PdflException(pdfl_err::kBadParameter, "scripted engine: not a path name");
  paths_live_.erase(reinterpret_cast<PathRec*>(path));
  delete reinterpret_cast<PathRec*>(path);
  --pathNamesHeld_;
}

PDDoc ScriptedEngine::PDDocOpenEx(ASPathName path, ASFileSys, PDAuthProc authProc,
                                  void* clientData, ASBool) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (path == nullptr || !IsLive(path)) {
    enter(PdflCall::PDDocOpenEx, "PDDocOpenEx(?)");
    throw PdflException(pdfl_err::kBadParameter, "scripted engine: not a path name");
  }
  const std::string name = reinterpret_cast<PathRec*>(path)->path;
  enter(PdflCall::PDDocOpenEx, "PDDocOpenEx(" + name + ")");
  for (const auto& [substring, rule] : openFailures_)
    if (name.find(substring) != std::string::npos) throw PdflException(rule.code, rule.message);
  for (const auto& substring : openNulls_)
    if (name.find(substring) != std::string::npos) return nullptr;

  const ScriptedDoc* script = nullptr;
  auto it = docs_.find(name);
  if (it != docs_.end())
    script = &it->second;
  else if (defaultDoc_)
    script = &*defaultDoc_;
  if (script == nullptr) throw PdflException(pdfl_err::kFileNotFound, "file not found: " + name);

  auto* open = new OpenDoc{*script, name, script->password.empty()};
  AddLive(open);
  PDDoc handle = reinterpret_cast<PDDoc>(open);
  if (!open->authorized) {
    bool granted = authProc != nullptr && authProc(handle, clientData) != 0 && open->authorized;
    if (!granted) {
      RemoveLive(open);
      ScriptedDoc::RefusedAs how = open->doc.refusedAs;
      delete open;
      if (how == ScriptedDoc::RefusedAs::NullDocument) return nullptr;
      throw PdflException(pdfl_err::kPassword, "scripted engine: password required");
    }
  }
  docs_live_.insert(open);
  ++docsOpen_;
  return handle;
}

ASInt32 ScriptedEngine::PDDocAuthorize(PDDoc doc, ASInt32, void* authData) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const char* password = static_cast<const char*>(authData);
  enter(PdflCall::PDDocAuthorize,
        std::string("PDDocAuthorize(") + (password ? password : "") + ")");
  OpenDoc* open = docOf(doc);
  if (password == nullptr || open->doc.password != password) return 0;
  open->authorized = (open->doc.grantedPerms & pdPermOpen) != 0;
  return open->doc.grantedPerms;
}

void ScriptedEngine::PDDocClose(PDDoc doc) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::PDDocClose, "PDDocClose");
  if (doc == nullptr || !RemoveLive(doc))
    throw PdflException(pdfl_err::kBadParameter, "scripted engine: not an open document");
  docs_live_.erase(reinterpret_cast<OpenDoc*>(doc));
  delete reinterpret_cast<OpenDoc*>(doc);
  --docsOpen_;
}

ASInt32 ScriptedEngine::PDDocGetNumPages(PDDoc doc) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::PDDocGetNumPages, "PDDocGetNumPages");
  return static_cast<ASInt32>(docOf(doc)->doc.pages.size());
}

ASInt32 ScriptedEngine::PDDocGetInfo(PDDoc doc, const char* key, char* buffer, ASInt32 bufSize) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string k = key ? key : "";
  enter(PdflCall::PDDocGetInfo, "PDDocGetInfo(" + k + "," + std::to_string(bufSize) + ")");
  OpenDoc* open = docOf(doc);
  auto it = open->doc.info.find(k);
  if (it == open->doc.info.end()) return 0;
  const std::string& value = it->second;
  if (buffer != nullptr && bufSize > 0) {
    size_t n = std::min(value.size(), static_cast<size_t>(bufSize - 1));
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<ASInt32>(value.size());
}

PDPage ScriptedEngine::PDDocAcquirePage(PDDoc doc, ASInt32 index) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  enter(PdflCall::PDDocAcquirePage, "PDDocAcquirePage(" + std::to_string(index) + ")");
  OpenDoc* open = docOf(doc);
  if (index < 0 || static_cast<size_t>(index) >= open->doc.pages.size())
    throw PdflException(pdfl_err::kBadPage, "page index out of range: " + std::to_string(index));
  auto* page = new OpenPage{open, index};
  AddLive(page);
  pages_live_.insert(page);
  ++acquired_[index];
  ++pagesHeld_;
  return reinterpret_cast<PDPage>(page);
}

void ScriptedEngine::PDPageRelease(PDPage page) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  int index = (page != nullptr && IsLive(page)) ? reinterpret_cast<OpenPage*>(page)->index : -1;
  enter(PdflCall::PDPageRelease, "PDPageRelease(" + std::to_string(index) + ")");
  if (page == nullptr || !RemoveLive(page))
    throw PdflException(pdfl_err::kBadParameter, "scripted engine: not an acquired page");
  ++released_[index];
  --pagesHeld_;
  pages_live_.erase(reinterpret_cast<OpenPage*>(page));
  delete reinterpret_cast<OpenPage*>(page);
}

ASInt16 ScriptedEngine::PDPageGetRotate(PDPage page) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  OpenPage* p = pageOf(page);
  enter(PdflCall::PDPageGetRotate, "PDPageGetRotate(" + std::to_string(p->index) + ")");
  return p->doc->doc.pages[static_cast<size_t>(p->index)].rotate;
}

void ScriptedEngine::PDPageGetMediaBox(PDPage page, ASFixedRect* box) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  OpenPage* p = pageOf(page);
  enter(PdflCall::PDPageGetMediaBox, "PDPageGetMediaBox(" + std::to_string(p->index) + ")");
  *box = p->doc->doc.pages[static_cast<size_t>(p->index)].mediaBox;
}

void ScriptedEngine::PDPageGetCropBox(PDPage page, ASFixedRect* box) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  OpenPage* p = pageOf(page);
  enter(PdflCall::PDPageGetCropBox, "PDPageGetCropBox(" + std::to_string(p->index) + ")");
  *box = p->doc->doc.pages[static_cast<size_t>(p->index)].cropBox;
}

void ScriptedEngine::PDPageEnumInksEx(PDPage page, PDPageEnumInksCallback proc, void* clientData,
                                      ASBool, ASAtom) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  OpenPage* p = pageOf(page);
  enter(PdflCall::PDPageEnumInksEx, "PDPageEnumInksEx(" + std::to_string(p->index) + ")");
  // Copy: the callback may call back into the engine.
  std::vector<ScriptedInk> inks = p->doc->doc.pages[static_cast<size_t>(p->index)].inks;
  for (const ScriptedInk& ink : inks) {
    PDPageInkRec rec{};
    rec.size = sizeof(PDPageInkRec);
    rec.colorantName = intern(ink.name);
    rec.isProcessColor = ink.process ? 1 : 0;
    rec.whetherToPrint = 1;
    if (log_.size() < kMaxLogEntries) log_.push_back("ink(" + ink.name + ")");
    if (proc == nullptr || proc(&rec, clientData) == 0) break;
  }
}

}  // namespace testing_support
