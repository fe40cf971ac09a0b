// The floor under the library's page walk: libqpdf alone reads FILE into
// memory, opens it and visits every page of its page tree, classifying each
// kid by /Type as the library does. Prints the page count.
//
//   qpdf_walk [--keep] FILE
//
// By default each page's parsed dictionary is dropped from libqpdf's object
// cache once it is counted, as the library does; --keep leaves libqpdf's
// cache alone (every page object stays loaded until the end).
#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  bool keep = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "usage: qpdf_walk [--keep] FILE\n");
    return 2;
  }
  try {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error(std::string("cannot open ") + path);
    const auto size = static_cast<size_t>(in.tellg());
    Buffer bytes(size);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.getBuffer()), static_cast<std::streamsize>(size));
    if (!in) throw std::runtime_error(std::string("cannot read ") + path);

    QPDF pdf;
    auto logger = QPDFLogger::create();
    logger->setWarn(logger->discard());
    pdf.setLogger(logger);
    pdf.setSuppressWarnings(true);
    pdf.processInputSource(std::make_shared<BufferInputSource>(path, &bytes, false));

    size_t pages = 0;
    std::vector<QPDFObjectHandle> nodes{pdf.getRoot().getKey("/Pages")};
    while (!nodes.empty()) {
      QPDFObjectHandle node = nodes.back();
      nodes.pop_back();
      QPDFObjectHandle kids = node.getKey("/Kids");
      if (!kids.isArray()) continue;
      for (int i = kids.getArrayNItems() - 1; i >= 0; --i) {
        QPDFObjectHandle kid = kids.getArrayItem(i);
        if (!kid.isDictionary()) continue;
        if (kid.getKey("/Type").isNameAndEquals("/Pages")) {
          nodes.push_back(kid);
          continue;
        }
        ++pages;
        if (!keep && kid.isIndirect()) pdf.replaceObject(kid.getObjGen(), QPDFObjectHandle::newNull());
      }
    }
    std::printf("%zu\n", pages);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qpdf_walk: %s\n", e.what());
    return 1;
  }
}
