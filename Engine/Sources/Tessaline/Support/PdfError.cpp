#include "Tessaline/Support/PdfError.hpp"

namespace tessaline {

PdfError::PdfError(std::string detail) : std::runtime_error("Couldn't create the PDF."), detail_(std::move(detail)) {}

}  // namespace tessaline
