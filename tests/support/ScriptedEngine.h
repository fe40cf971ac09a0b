// A PdflEngine double for tests. It serves documents described in memory
// (pages with rotation, boxes and inks; information entries; a password),
// fails opens by file-name substring, raises PdflException at the N-th call
// of any entry point, counts every call and records page acquire/release.
//
// Install it with ScopedPdflEngine; every call is safe from any thread (the
// worker makes the calls while the test thread reads the counters).
#ifndef PDFPARSE_TESTS_SUPPORT_SCRIPTEDENGINE_H_
#define PDFPARSE_TESTS_SUPPORT_SCRIPTEDENGINE_H_

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "outside/pdfl/PdflEngine.h"
#include "outside/pdfl/PdflErrors.h"

namespace testing_support {

// Entry points of PdflEngine, for counting and for scripted exceptions.
enum class PdflCall {
  PDFLInit,
  PDFLGetInitCount,
  PDFLTerm,
  CosSetMaxDocStorage,
  ASPurgeMemory,
  ASAtomFromString,
  ASAtomGetString,
  ASFileSysCreatePathName,
  ASFileSysReleasePathName,
  PDDocOpenEx,
  PDDocAuthorize,
  PDDocClose,
  PDDocGetNumPages,
  PDDocGetInfo,
  PDDocAcquirePage,
  PDPageRelease,
  PDPageGetRotate,
  PDPageGetMediaBox,
  PDPageGetCropBox,
  PDPageEnumInksEx,
  kCount
};
const char* PdflCallName(PdflCall call);

// Fixed-point rectangle from whole points (left, top, right, bottom).
ASFixedRect FixedRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

struct ScriptedInk {
  std::string name;
  bool process = false;
};

struct ScriptedPage {
  ASInt16 rotate = 0;
  ASFixedRect mediaBox = FixedRect(0, 792, 612, 0);
  ASFixedRect cropBox = FixedRect(0, 792, 612, 0);
  std::vector<ScriptedInk> inks;  // reported in this order
};

struct ScriptedDoc {
  std::vector<ScriptedPage> pages;
  std::map<std::string, std::string> info;  // information entries
  // Non-empty: the document asks for authorisation and opens only when
  // PDDocAuthorize is given this password.
  std::string password;
  ASInt32 grantedPerms = pdPermOpen;  // what the right password grants
  // How a refused authorisation is reported by PDDocOpenEx.
  enum class RefusedAs { Exception, NullDocument } refusedAs = RefusedAs::Exception;

  // Convenience: `n` plain Letter pages.
  static ScriptedDoc WithPages(int n);
};

class ScriptedEngine : public PdflEngine {
 public:
  ScriptedEngine();
  ~ScriptedEngine() override;

  // --- Script --------------------------------------------------------------
  // Documents by exact path; any other path uses the default document when
  // one is set, else the open raises kFileNotFound.
  void addDocument(const std::string& path, ScriptedDoc doc);
  void setDefaultDocument(ScriptedDoc doc);
  // Opens of a path containing `substring` raise `code`.
  void failOpen(const std::string& substring, ASErrorCode code = pdfl_err::kDamaged,
                const std::string& message = "scripted open failure");
  // Opens of a path containing `substring` return no document, without an
  // exception.
  void openReturnsNull(const std::string& substring);
  // The `nth` call (1-based) of `call` raises PdflException(code, message).
  // Each rule fires once; calls are counted from installation or the last
  // resetCounts.
  void raiseAt(PdflCall call, int nth, ASErrorCode code = pdfl_err::kInternal,
               const std::string& message = "scripted exception");
  // The `nth` call overall (of any entry point, counted from installation or
  // the last resetCounts) raises.
  void raiseAtAnyCall(int nth, ASErrorCode code = pdfl_err::kInternal,
                      const std::string& message = "scripted exception");
  // Result of PDFLInit (0 starts the library).
  void setInitResult(ASInt32 code);
  // Result of ASPurgeMemory.
  void setPurgeResult(ASUns32 bytes);

  // --- Observations --------------------------------------------------------
  int calls(PdflCall call) const;
  int totalCalls() const;
  // Every call in order, e.g. "PDDocAcquirePage(2)", "PDPageRelease(2)",
  // "PDDocGetInfo(Producer,13)", "PDDocOpenEx(/x.pdf)".
  std::vector<std::string> log() const;
  void resetCounts();  // counters and log (not the script)

  // Page acquisitions by 0-based index, and pages still held.
  int acquired(int index) const;
  int released(int index) const;
  int pagesHeld() const;
  int docsOpen() const;
  int pathNamesHeld() const;
  int initCount() const;

  // What the last PDFLInit received: dirListLen and the entries as UTF-16
  // (nullopt for a null entry), read up to the terminator within 260 units.
  struct InitSeen {
    ASUns32 size = 0;
    ASUns32 flags = 0;
    bool hadList = false;
    ASInt32 dirListLen = 0;
    std::vector<std::optional<std::u16string>> dirs;
  };
  std::optional<InitSeen> lastInit() const;
  std::optional<ASInt32> maxDocStorage() const;
  std::vector<ASUns32> purgeRequests() const;

  // --- PdflEngine ------------------------------------------------------------
  ASInt32 PDFLInit(PDFLDataRec* data) override;
  ASInt32 PDFLGetInitCount() override;
  void PDFLTerm() override;
  void CosSetMaxDocStorage(ASInt32 bytes) override;
  ASUns32 ASPurgeMemory(ASUns32 bytes) override;
  ASAtom ASAtomFromString(const char* text) override;
  const char* ASAtomGetString(ASAtom atom) override;
  ASPathName ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                     const void* mustBeZero) override;
  void ASFileSysReleasePathName(ASFileSys fileSys, ASPathName path) override;
  PDDoc PDDocOpenEx(ASPathName path, ASFileSys fileSys, PDAuthProc authProc, void* clientData,
                    ASBool doRepair) override;
  ASInt32 PDDocAuthorize(PDDoc doc, ASInt32 permsWanted, void* authData) override;
  void PDDocClose(PDDoc doc) override;
  ASInt32 PDDocGetNumPages(PDDoc doc) override;
  ASInt32 PDDocGetInfo(PDDoc doc, const char* key, char* buffer, ASInt32 bufSize) override;
  PDPage PDDocAcquirePage(PDDoc doc, ASInt32 index) override;
  void PDPageRelease(PDPage page) override;
  ASInt16 PDPageGetRotate(PDPage page) override;
  void PDPageGetMediaBox(PDPage page, ASFixedRect* box) override;
  void PDPageGetCropBox(PDPage page, ASFixedRect* box) override;
  void PDPageEnumInksEx(PDPage page, PDPageEnumInksCallback proc, void* clientData,
                        ASBool includeOPI, ASAtom colorModel) override;

 private:
  struct OpenDoc;
  struct OpenPage;
  struct PathRec;
  struct Rule {
    PdflCall call;
    int nth;
    bool any;
    ASErrorCode code;
    std::string message;
    bool fired = false;
  };

  // Counts the call, logs `entry` and raises when a rule says so.
  void enter(PdflCall call, const std::string& entry);
  OpenDoc* docOf(PDDoc doc);
  ASAtom intern(const std::string& text);
  OpenPage* pageOf(PDPage page);

  mutable std::recursive_mutex mutex_;
  std::map<std::string, ScriptedDoc> docs_;
  std::optional<ScriptedDoc> defaultDoc_;
  std::vector<std::pair<std::string, Rule>> openFailures_;
  std::vector<std::string> openNulls_;
  std::vector<Rule> rules_;
  ASInt32 initResult_ = 0;
  ASUns32 purgeResult_ = 0;

  int counts_[static_cast<int>(PdflCall::kCount)] = {};
  int total_ = 0;
  std::vector<std::string> log_;
  std::map<int, int> acquired_;
  std::map<int, int> released_;
  int pagesHeld_ = 0;
  int docsOpen_ = 0;
  int pathNamesHeld_ = 0;
  int initCount_ = 0;
  std::optional<InitSeen> lastInit_;
  std::optional<ASInt32> maxDocStorage_;
  std::vector<ASUns32> purges_;
  std::deque<std::string> atoms_;
  // Handles still out; freed with the engine, as a library frees them at
  // its end.
  std::set<OpenDoc*> docs_live_;
  std::set<OpenPage*> pages_live_;
  std::set<PathRec*> paths_live_;  // stable addresses for ASAtomGetString
};

// Installs an engine for the scope's lifetime and restores the previous one.
class ScopedPdflEngine {
 public:
  explicit ScopedPdflEngine(PdflEngine* engine) : previous_(SetPdflEngine(engine)) {}
  ~ScopedPdflEngine() { SetPdflEngine(previous_); }
  ScopedPdflEngine(const ScopedPdflEngine&) = delete;
  ScopedPdflEngine& operator=(const ScopedPdflEngine&) = delete;

 private:
  PdflEngine* previous_;
};

}  // namespace testing_support

#endif  // PDFPARSE_TESTS_SUPPORT_SCRIPTEDENGINE_H_
