// A CPdfConverterIf double. Its behaviour lives in a ConverterScript that
// the test keeps: boxes per page, calls that fail on demand, and the record
// of every call in order (kept after the converter object is destroyed).
//
// The document object creates its converter through the plug-in loader; a
// test plug-in's CreatePDFConverterNoRip forwards to
// PdfParseTestCreateConverter (exported by test binaries that need it),
// which builds a ScriptedConverter on the script installed with
// ScopedConverterScript.
#ifndef PDFPARSE_TESTS_SUPPORT_SCRIPTEDCONVERTER_H_
#define PDFPARSE_TESTS_SUPPORT_SCRIPTEDCONVERTER_H_

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "outside/converter/CPdfConverterIf.h"

namespace testing_support {

enum class ConverterOp { initConverter, beginJob, endJob, openDocument, closeDocument, selectPage, getPageBox };

class ConverterScript {
 public:
  using Box = std::array<float, 4>;  // left, top, right, bottom

  // Boxes reported per 0-based page; selectPage beyond them fails.
  void setBoxes(std::vector<Box> boxes);
  // The `nth` call (1-based) of `op` yields 0; nth 0: every call.
  void failAt(ConverterOp op, int nth = 0);
  // The creation entry yields no object.
  void setCreateReturnsNull(bool value);

  // Every call in order: "initConverter(1,1,1,1,0)", "beginJob(0)",
  // "openDocument(<path>,Dummy)", "selectPage(2)", "getPageBox",
  // "closeDocument(1)", "endJob", "destroy".
  std::vector<std::string> calls() const;
  int count(ConverterOp op) const;
  int created() const;
  int destroyed() const;
  void clearCalls();

  // Used by ScriptedConverter.
  bool createReturnsNull() const;
  void noteCreated();
  void noteDestroyed();
  bool enter(ConverterOp op, const std::string& entry);  // false: fail this call
  bool boxOf(int page, Box* box) const;
  bool pageExists(int page) const;

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::multimap<ConverterOp, int> failures_;
  std::map<ConverterOp, int> counts_;
  std::vector<std::string> calls_;
  bool createNull_ = false;
  int created_ = 0;
  int destroyed_ = 0;
};

class ScriptedConverter : public CPdfConverterIf {
 public:
  explicit ScriptedConverter(std::shared_ptr<ConverterScript> script);
  ~ScriptedConverter() override;

  int32_t endJob() override;
  int32_t beginJob(int32_t flags) override;
  int32_t closeDocument(int32_t failed) override;
  int32_t initConverter(const ConverterInitRec* rec, int32_t flags) override;
  int32_t openDocument(const char* path, const char* name) override;
  int32_t selectPage(int32_t index) override;
  int32_t getPageBox(float box[4]) override;

 private:
  std::shared_ptr<ConverterScript> script_;
  int current_ = -1;
};

// Installs the script the creation hook uses, for the scope's lifetime;
// the previous one comes back afterwards.
class ScopedConverterScript {
 public:
  explicit ScopedConverterScript(std::shared_ptr<ConverterScript> script);
  ~ScopedConverterScript();
  ScopedConverterScript(const ScopedConverterScript&) = delete;
  ScopedConverterScript& operator=(const ScopedConverterScript&) = delete;

 private:
  std::shared_ptr<ConverterScript> previous_;
};

}  // namespace testing_support

// The hook a test plug-in calls: a ScriptedConverter on the installed
// script, or null when none is installed or the script says so.
extern "C" __attribute__((visibility("default"))) CPdfConverterIf* PdfParseTestCreateConverter(long arg);

#endif  // PDFPARSE_TESTS_SUPPORT_SCRIPTEDCONVERTER_H_
