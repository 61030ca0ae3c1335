#pragma once

#include <stdexcept>
#include <string>

namespace tessaline {

// No PDF could be made (cairo failed; in memory that means out of memory or a cairo error).
// what(): "Couldn't create the PDF."
class PdfError : public std::runtime_error {
public:
    explicit PdfError(std::string detail = {});
    // cairo's own words, for diagnostics; empty when there are none.
    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};

}  // namespace tessaline
