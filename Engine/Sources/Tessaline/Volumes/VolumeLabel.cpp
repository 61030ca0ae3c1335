#include "Tessaline/Volumes/VolumeLabel.hpp"

namespace tessaline {

// Placeholder until the volume listing lands: no label is known.
std::optional<std::string> volumeLabel(const std::filesystem::path&) { return std::nullopt; }

}  // namespace tessaline
