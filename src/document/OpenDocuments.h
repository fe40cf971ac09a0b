// The documents the library has open, so that a module that measures the
// same file during the inquiry (the converter plug-in) reads the library's
// parse of it instead of reading and parsing the file a second time.
//
// This registry is the one way from the plug-in to the engine's open
// document. It is an object of the engine's own shared library (one per
// process, whoever loads the library): the PDF library calls add a document
// when it opens and remove it before it closes; the plug-in only looks up
// (PluginDocument::Open) and shares the document while it measures.
//
// Entries belong to the thread that added them: a document is only handed
// to callers on that thread, since a parsed document is not shared between
// threads. Any thread may call.
#ifndef PDFPARSE_DOCUMENT_OPENDOCUMENTS_H_
#define PDFPARSE_DOCUMENT_OPENDOCUMENTS_H_

#include <memory>
#include <string>

#include "document/FileBytes.h"

namespace pdfparse::document {

class Document;
class WorkBudget;

class OpenDocuments {
 public:
  // Registers `doc`, opened on this thread under `path`, until Remove.
  static void Add(const std::shared_ptr<Document>& doc, const std::string& path);
  static void Remove(const Document* doc);

  // A document registered on this thread: the one read from the file that
  // `identity` names (same device, inode, size and modification time), else
  // the one registered under `path` (an inquiry reads a file once, even when
  // it is replaced meanwhile). Null when there is none; `sameFile` tells
  // which of the two was found.
  static std::shared_ptr<Document> Find(const FileIdentity* identity, const std::string& path,
                                        bool* sameFile = nullptr);

  // The work budget of the inquiry running on this thread (that of the
  // document registered last on it), or null.
  static std::shared_ptr<WorkBudget> CurrentBudget();

  static size_t CountForTesting();
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_OPENDOCUMENTS_H_
