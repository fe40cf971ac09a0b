#include "document/SilentLogger.h"

#include <qpdf/Pipeline.hh>

#include <algorithm>

#include "document/WorkBudget.h"

namespace pdfparse::document {
namespace {

// A warning line kept for the trace at most (the rest is dropped).
constexpr size_t kMaxWarningLine = 1024;
// Warnings libqpdf keeps before they are taken from it.
constexpr size_t kKeptWarnings = 1024;
const std::string kWarningPrefix = "WARNING: ";

// libqpdf ends each warning it writes with a newline; it keeps every
// warning too, so they are taken from it now and then (a file can make
// millions): they are counted and passed on here, not stored.
class WarningCounter : public Pipeline {
 public:
  WarningCounter(std::shared_ptr<WorkBudget> budget, WarningSink sink, std::function<void()> release)
      : Pipeline("warning counter", nullptr),
        budget_(std::move(budget)),
        sink_(std::move(sink)),
        release_(std::move(release)) {}
  void write(unsigned char const* data, size_t len) override {
    for (size_t i = 0; i < len; ++i) {
      if (data[i] != '\n') {
        if (line_.size() < kMaxWarningLine) line_.push_back(static_cast<char>(data[i]));
        continue;
      }
      std::string line = std::move(line_);
      line_.clear();
      if (line.rfind(kWarningPrefix, 0) == 0) line.erase(0, kWarningPrefix.size());
      if (sink_) sink_(line);
      // The whole warning is written: libqpdf is done with its copy.
      if (++unreleased_ >= kKeptWarnings && release_) {
        unreleased_ = 0;
        release_();
      }
      budget_->chargeWarning();
    }
  }
  void finish() override {}

 private:
  std::shared_ptr<WorkBudget> budget_;
  WarningSink sink_;
  std::function<void()> release_;
  std::string line_;
  size_t unreleased_ = 0;
};

}  // namespace

std::shared_ptr<QPDFLogger> SilentLogger() {
  auto logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

std::shared_ptr<QPDFLogger> CountingLogger(std::shared_ptr<WorkBudget> budget, WarningSink sink,
                                           std::function<void()> release) {
  auto logger = SilentLogger();
  logger->setWarn(std::make_shared<WarningCounter>(std::move(budget), std::move(sink), std::move(release)));
  return logger;
}

}  // namespace pdfparse::document
