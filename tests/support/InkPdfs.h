// Test PDFs about colour spaces and inks, composed as PDF text (objects made
// indirect are referred to as "N 0 R"), and the table of ink rule cases: one
// page per case, each with the spot colorants it defines. The pages also
// paint with what they define, so that peer renderers see the same inks.
#ifndef PDFPARSE_TESTS_SUPPORT_INKPDFS_H_
#define PDFPARSE_TESTS_SUPPORT_INKPDFS_H_

#include <qpdf/QPDF.hh>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pdfparse::test::inkpdfs {

std::unique_ptr<QPDF> NewPdf();                            // catalog and empty page tree
QPDFObjectHandle Obj(QPDF& pdf, const std::string& text);  // "N 0 R" resolves in `pdf`
std::string Ind(QPDF& pdf, std::string text);              // made indirect; "@" is its own reference
std::string Stream(QPDF& pdf, const std::string& dict, const std::string& data);
std::string Form(QPDF& pdf, const std::string& resources, const std::string& content,
                 const std::string& extra = "");  // BBox 0 0 100 100
void AddPage(QPDF& pdf, const std::string& resources, const std::string& content, const std::string& extra = "");
std::string Sep(const std::string& colorant);  // [/Separation ... /DeviceCMYK tint]
std::string DevN(QPDF& pdf, const std::vector<std::string>& names, const std::string& attrs = "");
std::string Res(const std::string& category, const std::string& name, const std::string& value);

std::string Write(QPDF& pdf);                          // object streams off
std::shared_ptr<QPDF> Read(const std::string& bytes);  // keeps the bytes alive

struct InkCase {
  std::string name;
  std::function<void(QPDF& pdf)> build;   // adds the case's page
  std::vector<std::string> spots;         // spot colorants, in walk order
  std::vector<std::string> process = {};  // colorants reported as process (NChannel)
};
const std::vector<InkCase>& InkRuleCases();

}  // namespace pdfparse::test::inkpdfs

#endif  // PDFPARSE_TESTS_SUPPORT_INKPDFS_H_
