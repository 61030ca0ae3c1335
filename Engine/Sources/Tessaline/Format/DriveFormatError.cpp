#include "Tessaline/Format/DriveFormatError.hpp"

namespace tessaline {

namespace {

std::string sentence(DriveFormatError::Kind kind, const std::string& payload) {
    using Kind = DriveFormatError::Kind;
    switch (kind) {
        case Kind::cannotInspect:
            return "Couldn't identify the volume at " + payload + " \u2014 not reformatting something unidentified.";
        case Kind::refusedInternal:
            return "\"" + payload + "\" is an internal disk. Brindlecove only reformats external drives and cards.";
        case Kind::refusedBootVolume: return "\"" + payload + "\" is (or contains) the startup disk \u2014 refusing.";
        case Kind::volumeChanged:
            return "The volume at " + payload +
                   " is no longer the one you checked \u2014 nothing was formatted. Choose it again.";
        case Kind::diskutilFailed:
        case Kind::formatUnavailable: return payload;
    }
    return payload;
}

}  // namespace

DriveFormatError::DriveFormatError(Kind kind, std::string payload)
    : std::runtime_error(sentence(kind, payload)), kind_(kind), payload_(std::move(payload)) {}

DriveFormatError DriveFormatError::formatUnavailable(const std::string& displayName, const std::string& toolName) {
    return {Kind::formatUnavailable,
            displayName + " can't be created on this system \u2014 " + toolName + " is not installed."};
}

}  // namespace tessaline
