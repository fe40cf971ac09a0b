// Whether an object an answer rests on is in the file, whole. libqpdf reads
// a reference to an object the file does not hold (a cut file, a lost
// cross-reference section) as null, and an object cut short as whatever
// its first bytes parse to; taken as answers, both would be guesses. The
// page walk, the page model, the Info lookup and the ink walk ask here
// about every object they follow, and the query that needs a missing one
// fails with a message naming it.
#ifndef PDFPARSE_DOCUMENT_OBJECTCHECK_H_
#define PDFPARSE_DOCUMENT_OBJECTCHECK_H_

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <functional>
#include <set>
#include <string_view>
#include <vector>

namespace pdfparse::document {

class ObjectCheck {
 public:
  // `bytes` are the file's bytes as libqpdf reads them, from its %PDF-
  // header on (libqpdf counts offsets from there). They must outlive this.
  // `checkpoint` is called now and then while the bytes are looked at.
  explicit ObjectCheck(std::string_view bytes, const std::function<void()>& checkpoint = {});

  // Raises Error kDamaged, naming `what` and the object, when `h` refers to
  // an object that is not in the file, is cut short by the end of the file,
  // or cannot be read (it reads as null without being written as null:
  // libqpdf tells no unparseable object from a missing one). A
  // direct value passes: the object that holds it was checked.
  void require(QPDFObjectHandle& h, const char* what) const;

  // `og` is no object of the file: a repair added it to its copy.
  void addedByRepair(QPDFObjGen og) { added_ = og; }

  // `og` was read, and then dropped by the engine: it reads as null from
  // now on, and is in the file all the same.
  void released(QPDFObjGen og);

  // Objects whose "N G obj" lies after the file's last "endobj" with no
  // cross-reference data after them: the end of the file cut them short.
  const std::set<QPDFObjGen>& cutShort() const { return cutShort_; }

 private:
  bool writtenAsNull(qpdf_offset_t parsedAt) const;

  bool wasReleased(QPDFObjGen og) const;

  std::string_view bytes_;
  std::set<QPDFObjGen> cutShort_;
  QPDFObjGen added_;
  // Released objects: by number for generation 0 (a bit each), else by id.
  std::vector<bool> releasedNumbers_;
  std::set<QPDFObjGen> releasedOthers_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_OBJECTCHECK_H_
