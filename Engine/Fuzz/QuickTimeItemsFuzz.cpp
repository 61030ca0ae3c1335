// Fuzz target for the QuickTime item reader: any bytes, read as a movie file, must give a
// result without crashing, hanging or reading out of bounds. The item texts then go
// through the metadata date parser, as the reader's caller does.

#include "Tessaline/MetadataReader/MetadataDates.hpp"
#include "Tessaline/MetadataReader/QuickTimeItems.hpp"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto movie = tessaline::readQuickTimeMetadata(std::span<const uint8_t>(data, size));
    for (const auto& item : movie.items)
        if (item.text) (void)tessaline::dateFromMetadataText(*item.text);
    return 0;
}
