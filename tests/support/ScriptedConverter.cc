#include "support/ScriptedConverter.h"

#include <utility>

namespace testing_support {

namespace {
std::mutex g_scriptMutex;
std::shared_ptr<ConverterScript> g_script;

}  // namespace

void ConverterScript::setBoxes(std::vector<Box> boxes) {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_ = std::move(boxes);
}

void ConverterScript::failAt(ConverterOp op, int nth) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.emplace(op, nth);
}

void ConverterScript::setCreateReturnsNull(bool value) {
  std::lock_guard<std::mutex> lock(mutex_);
  createNull_ = value;
}

std::vector<std::string> ConverterScript::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int ConverterScript::count(ConverterOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = counts_.find(op);
  return it == counts_.end() ? 0 : it->second;
}

int ConverterScript::created() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return created_;
}

int ConverterScript::destroyed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return destroyed_;
}

void ConverterScript::clearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
  counts_.clear();
}

bool ConverterScript::createReturnsNull() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return createNull_;
}

void ConverterScript::noteCreated() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++created_;
}

void ConverterScript::noteDestroyed() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++destroyed_;
  calls_.push_back("destroy");
}

bool ConverterScript::enter(ConverterOp op, const std::string& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = ++counts_[op];
  calls_.push_back(entry);
  auto range = failures_.equal_range(op);
  for (auto it = range.first; it != range.second; ++it)
    if (it->second == 0 || it->second == n) return false;
  return true;
}

bool ConverterScript::boxOf(int page, Box* box) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (page < 0 || static_cast<size_t>(page) >= boxes_.size()) return false;
  *box = boxes_[static_cast<size_t>(page)];
  return true;
}

bool ConverterScript::pageExists(int page) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return page >= 0 && static_cast<size_t>(page) < boxes_.size();
}

ScriptedConverter::ScriptedConverter(std::shared_ptr<ConverterScript> script)
    : script_(std::move(script)) {
  script_->noteCreated();
}

ScriptedConverter::~ScriptedConverter() { script_->noteDestroyed(); }

int32_t ScriptedConverter::endJob() { return script_->enter(ConverterOp::endJob, "endJob") ? 1 : 0; }

int32_t ScriptedConverter::beginJob(int32_t flags) {
  return script_->enter(ConverterOp::beginJob, "beginJob(" + std::to_string(flags) + ")") ? 1 : 0;
}

int32_t ScriptedConverter::closeDocument(int32_t failed) {
  current_ = -1;
  return script_->enter(ConverterOp::closeDocument, "closeDocument(" + std::to_string(failed) + ")")
             ? 1
             : 0;
}

int32_t ScriptedConverter::initConverter(const ConverterInitRec* rec, int32_t flags) {
  std::string entry = "initConverter(";
  if (rec != nullptr) {
    entry += std::to_string(rec->version) + "," + std::to_string(rec->mode) + "," +
             std::to_string(rec->units) + "," + std::to_string(rec->pages) + "," +
             std::to_string(rec->options);
  } else {
    entry += "null";
  }
  entry += ";" + std::to_string(flags) + ")";
  return script_->enter(ConverterOp::initConverter, entry) ? 1 : 0;
}

int32_t ScriptedConverter::openDocument(const char* path, const char* name) {
  std::string entry = std::string("openDocument(") + (path ? path : "null") + "," +
                      (name ? name : "null") + ")";
  return script_->enter(ConverterOp::openDocument, entry) ? 1 : 0;
}

int32_t ScriptedConverter::selectPage(int32_t index) {
  bool ok = script_->enter(ConverterOp::selectPage, "selectPage(" + std::to_string(index) + ")");
  if (!ok || !script_->pageExists(index)) return 0;
  current_ = index;
  return 1;
}

int32_t ScriptedConverter::getPageBox(float box[4]) {
  bool ok = script_->enter(ConverterOp::getPageBox, "getPageBox");
  ConverterScript::Box b{};
  if (!ok || current_ < 0 || !script_->boxOf(current_, &b)) return 0;
  for (int k = 0; k < 4; ++k) box[k] = b[static_cast<size_t>(k)];
  return 1;
}

ScopedConverterScript::ScopedConverterScript(std::shared_ptr<ConverterScript> script) {
  std::lock_guard<std::mutex> lock(g_scriptMutex);
  previous_ = std::exchange(g_script, std::move(script));
}

ScopedConverterScript::~ScopedConverterScript() {
  std::lock_guard<std::mutex> lock(g_scriptMutex);
  g_script = std::move(previous_);
}

}  // namespace testing_support

extern "C" CPdfConverterIf* PdfParseTestCreateConverter(long) {
  std::shared_ptr<testing_support::ConverterScript> script;
  {
    std::lock_guard<std::mutex> lock(testing_support::g_scriptMutex);
    script = testing_support::g_script;
  }
  if (!script || script->createReturnsNull()) return nullptr;
  return new testing_support::ScriptedConverter(script);
}
