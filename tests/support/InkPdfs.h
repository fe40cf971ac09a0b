// Builders for test PDFs about colour spaces and inks, and the table of ink
// rule cases: one page per case, each with the spot colorants the page
// defines. The pages also paint with what they define, so that renderers
// used as peers see the same colorants.
#ifndef PDFPARSE_TESTS_SUPPORT_INKPDFS_H_
#define PDFPARSE_TESTS_SUPPORT_INKPDFS_H_

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace inkpdfs {

// An empty document (catalog and empty page tree).
std::unique_ptr<QPDF> NewPdf();

// Parses a PDF object from text (indirect references resolve in `pdf`).
QPDFObjectHandle Obj(QPDF& pdf, const std::string& text);

// [/Separation /colorant /DeviceCMYK tint], `colorant` without the slash
// (spaces and other delimiters are fine; the writer encodes them).
QPDFObjectHandle Separation(const std::string& colorant);
// [/DeviceN [names] /DeviceCMYK tint attrs?]; `attrs` may be null.
QPDFObjectHandle DeviceN(QPDF& pdf, const std::vector<std::string>& names,
                         QPDFObjectHandle attrs = QPDFObjectHandle::newNull());

// An indirect stream with the given dictionary and data.
QPDFObjectHandle Stream(QPDF& pdf, QPDFObjectHandle dict, const std::string& data);
// An indirect form XObject (BBox 0 0 100 100) with these resources (may be null).
QPDFObjectHandle Form(QPDF& pdf, QPDFObjectHandle resources, const std::string& content);
// A 1x1 8-bit image XObject in `colorSpace`, `components` bytes of data.
QPDFObjectHandle Image(QPDF& pdf, QPDFObjectHandle colorSpace, int components);

// A resource dictionary with one entry: << /category << /name value >> >>.
QPDFObjectHandle Res(const std::string& category, const std::string& name, QPDFObjectHandle value);

// Appends a page (MediaBox 0 0 200 200) with these resources (may be null)
// and content; returns the page.
QPDFObjectHandle AddPage(QPDF& pdf, QPDFObjectHandle resources, const std::string& content);

// Serialises with QPDFWriter (object streams off, so the file is plain).
std::string Write(QPDF& pdf);
// Parses bytes written by Write; the buffer is kept alive with the result.
std::shared_ptr<QPDF> Read(const std::string& bytes);

// One page per ink rule. `build` adds the case's page to `pdf`.
struct InkCase {
  std::string name;
  std::function<void(QPDF& pdf)> build;
  std::vector<std::string> spots;    // spot colorants, in walk order
  std::vector<std::string> process;  // colorants reported as process (NChannel)
};
const std::vector<InkCase>& InkRuleCases();

}  // namespace inkpdfs

#endif  // PDFPARSE_TESTS_SUPPORT_INKPDFS_H_
