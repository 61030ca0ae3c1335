#include "Tessaline/Format/DriveFormatError.hpp"

namespace tessaline {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

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

DriveFormatError::DriveFormatError(Kind kind, std::string payload, const std::string& note)
    : std::runtime_error(note.empty() ? sentence(kind, payload) : sentence(kind, payload) + " " + note),
      kind_(kind),
      payload_(std::move(payload)) {}

DriveFormatError DriveFormatError::formatUnavailable(const std::string& displayName, const std::string& toolName) {
    return {Kind::formatUnavailable,
            displayName + " can't be created on this system \u2014 " + toolName + " is not installed."};
}

std::string DriveFormatError::leftUnmountedNote(const std::string& volumeName, const std::string& reason,
                                                const std::string& howToMount) {
    std::string cause = trimmed(reason);
    while (!cause.empty() && cause.back() == '.') cause.pop_back();
    std::string text = "\u201c" + volumeName + "\u201d is left unmounted";
    text += cause.empty() ? std::string(".") : " \u2014 mounting it again failed: " + cause + ".";
    text += " To mount it, unplug it and plug it in again";
    text += howToMount.empty() ? std::string(".") : ", or run: " + howToMount;
    return text;
}

DriveFormatError DriveFormatError::leftUnmounted(const std::string& message, const std::string& volumeName,
                                                const std::string& reason, const std::string& howToMount) {
    std::string text = trimmed(message);
    if (text.empty() || text.back() != '.') text += '.';
    return diskutilFailed(text + " " + leftUnmountedNote(volumeName, reason, howToMount));
}

}  // namespace tessaline
