// The host's fixed password: offered when a document does not open without
// one, by the library's authorisation callback and by the document core.
#ifndef PDFPARSE_OUTSIDE_PDFL_CORE_HOSTPASSWORD_H_
#define PDFPARSE_OUTSIDE_PDFL_CORE_HOSTPASSWORD_H_

namespace pdfcore {

inline constexpr const char kHostPassword[] = "marble";

}  // namespace pdfcore

#endif  // PDFPARSE_OUTSIDE_PDFL_CORE_HOSTPASSWORD_H_
