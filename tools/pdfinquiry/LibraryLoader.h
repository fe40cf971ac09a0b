// Loads libpdfparse.so the way any host does: dlopen, then dlsym of the
// exported factory. Nothing else of the library is linked.
#ifndef PDFINQUIRY_LIBRARYLOADER_H_
#define PDFINQUIRY_LIBRARYLOADER_H_

#include <memory>
#include <string>
#include <vector>

#include "pdfparse/CPdfParseIf.h"

namespace pdfparse::inquirytool {

// Where the library is looked for when neither --library nor
// PDFPARSE_LIBRARY names one, for a program at `exePath`: the build tree's
// and the installed tree's library folder beside the program's bin folder.
std::vector<std::string> DefaultLibraryCandidates(const std::string& exePath);

// Path of the running program (/proc/self/exe); empty when unknown.
std::string ExecutablePath();

// The library to load: `option` if set, else `envValue` if set and not
// empty, else the first default candidate that exists (or, when none exists,
// the bare soname for the system's search path).
std::string ChooseLibrary(const std::string& option, const char* envValue, const std::vector<std::string>& candidates);

class PdfParseLibrary {
 public:
  // Loads `path` and resolves CreateCPdfParse. Null with the reason in
  // `error` when either fails.
  static std::unique_ptr<PdfParseLibrary> Load(const std::string& path, std::string* error);
  ~PdfParseLibrary();
  PdfParseLibrary(const PdfParseLibrary&) = delete;
  PdfParseLibrary& operator=(const PdfParseLibrary&) = delete;

  // A new parser, or null when the library could not make one. Every parser
  // must be destroyed before this object.
  std::unique_ptr<CPdfParseIf> createParser();

  const std::string& path() const { return path_; }

 private:
  PdfParseLibrary(void* handle, CreateCPdfParseFn factory, std::string path);

  void* handle_;
  CreateCPdfParseFn factory_;
  std::string path_;
};

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_LIBRARYLOADER_H_
