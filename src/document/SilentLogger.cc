#include "document/SilentLogger.h"

#include <qpdf/Pipeline.hh>

#include <algorithm>

#include "document/WorkBudget.h"

namespace pdfparse::document {
namespace {

// libqpdf ends each warning it writes with a newline.
class WarningCounter : public Pipeline {
 public:
  explicit WarningCounter(std::shared_ptr<WorkBudget> budget)
      : Pipeline("warning counter", nullptr), budget_(std::move(budget)) {}
  void write(unsigned char const* data, size_t len) override {
    for (size_t n = static_cast<size_t>(std::count(data, data + len, '\n')); n > 0; --n) budget_->chargeWarning();
  }
  void finish() override {}

 private:
  std::shared_ptr<WorkBudget> budget_;
};

}  // namespace

std::shared_ptr<QPDFLogger> SilentLogger() {
  auto logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

std::shared_ptr<QPDFLogger> CountingLogger(std::shared_ptr<WorkBudget> budget) {
  auto logger = SilentLogger();
  logger->setWarn(std::make_shared<WarningCounter>(std::move(budget)));
  return logger;
}

}  // namespace pdfparse::document
