#include "outside/pdfl/core/SilentLogger.h"

namespace pdfcore {

std::shared_ptr<QPDFLogger> SilentLogger() {
  auto logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

}  // namespace pdfcore
