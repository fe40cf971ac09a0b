// Stream data for the structure reader: where a stream's bytes lie, and
// decoding them. Only what cross-reference and object streams use is read:
// no filter, or FlateDecode with no predictor or a PNG predictor (one
// colour, 8 bits). Anything else raises Refusal. Decoded bytes are charged
// to the work budget as they come, so a stream that inflates without end
// meets the memory limit instead of taking the machine's memory.
#ifndef PDFPARSE_DOCUMENT_READER_STREAMDATA_H_
#define PDFPARSE_DOCUMENT_READER_STREAMDATA_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "document/reader/Syntax.h"

namespace pdfparse::document {
class WorkBudget;
}

namespace pdfparse::document::reader {

// After a stream's dictionary (parser positioned after ">>"): checks the
// "stream" keyword, its end of line, `length` bytes of data, "endstream"
// and "endobj". Returns the data, which lies in `data`.
std::string_view StreamBytes(Parser& parser, std::string_view data, uint64_t length);

// The decoded data of a stream with dictionary `dict`. `what` names it in
// the budget's message.
std::string DecodeStream(const Object& dict, std::string_view raw, WorkBudget& budget, const char* what);

}  // namespace pdfparse::document::reader

#endif  // PDFPARSE_DOCUMENT_READER_STREAMDATA_H_
