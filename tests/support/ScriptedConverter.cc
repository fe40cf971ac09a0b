#include "support/ScriptedConverter.h"

#include <algorithm>
#include <utility>

namespace pdfparse::test {
namespace {

std::shared_ptr<ConverterScript> g_script;

class ScriptedConverter : public CPdfConverterIf {
 public:
  explicit ScriptedConverter(std::shared_ptr<ConverterScript> script) : s_(std::move(script)) { ++s_->created; }
  ~ScriptedConverter() override { ++s_->destroyed; }

  int32_t endJob() override { return call("endJob", ""); }
  int32_t beginJob(int32_t flags) override { return call("beginJob", std::to_string(flags)); }
  int32_t closeDocument(int32_t failed) override { return page_ = -1, call("closeDocument", std::to_string(failed)); }
  int32_t initConverter(const ConverterInitRec* r, int32_t flags) override {
    return call("initConverter", std::to_string(r->version) + "," + std::to_string(r->mode) + "," +
                                     std::to_string(r->units) + "," + std::to_string(r->pages) + "," +
                                     std::to_string(r->options) + ";" + std::to_string(flags));
  }
  int32_t openDocument(const char* path, const char* name) override {
    return call("openDocument", std::string(path) + "," + name);
  }
  int32_t selectPage(int32_t index) override {
    if (!call("selectPage", std::to_string(index)) || index < 0 || static_cast<size_t>(index) >= s_->boxes.size())
      return 0;
    page_ = index;
    return 1;
  }
  int32_t getPageBox(float box[4]) override {
    if (!call("getPageBox", "") || page_ < 0) return 0;
    std::copy_n(s_->boxes[static_cast<size_t>(page_)].begin(), 4, box);
    return 1;
  }

 private:
  // Records the call; 0 when the script makes it fail.
  int32_t call(const std::string& op, const std::string& args) {
    s_->calls.push_back(args.empty() ? op : op + "(" + args + ")");
    auto fail = s_->failAt.find(op);
    return fail != s_->failAt.end() && (fail->second == 0 || fail->second == s_->count(op)) ? 0 : 1;
  }

  std::shared_ptr<ConverterScript> s_;
  int page_ = -1;
};

}  // namespace

int ConverterScript::count(const std::string& operation) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
    return c == operation || c.rfind(operation + "(", 0) == 0;
  }));
}

std::shared_ptr<ConverterScript> InstallConverterScript(std::shared_ptr<ConverterScript> script) {
  return std::exchange(g_script, std::move(script));
}

}  // namespace pdfparse::test

extern "C" CPdfConverterIf* PdfParseTestCreateConverter(long) {
  using pdfparse::test::g_script;
  if (!g_script || g_script->createNull) return nullptr;
  return new pdfparse::test::ScriptedConverter(g_script);
}
