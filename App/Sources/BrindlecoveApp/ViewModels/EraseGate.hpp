#pragma once
// The erase-safety gate's rules as pure functions: what the last scan says about erasing the
// card in the reader now. The view model feeds them the report, the card folder, the identity
// read from the volume a moment ago and the card's media as last counted; the erase worker
// feeds them fresh facts again just before erasing. Any thread; no state.

#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Volumes/VolumeIdentity.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace brindlecove {

// What the last scan says about erasing the picked card.
struct VerificationStanding {
    enum class Kind {
        safe,           // count: clips, every one proven on a drive that is not this card
        missing,        // count: clips that exist only on this card (proven nowhere else)
        mismatch,       // count: clips with a same-named but different drive file
        notFullyRead,   // count: card folders the scan could not read
        notVerified,    // no usable scan of this card (none, another folder, no media, changed since)
        differentCard,  // the scan was of this folder, but this volume cannot be shown to be the scanned one
        notInserted,    // the scan was of this folder, but no volume is mounted there now (the card was ejected)
    };
    Kind kind = Kind::notVerified;
    int count = 0;

    bool isSafe() const { return kind == Kind::safe; }
    friend bool operator==(const VerificationStanding&, const VerificationStanding&) = default;
};

// The media files found on a card by a folder walk: path relative to the card root (raw
// bytes) and byte size.
struct CardMediaSnapshot {
    std::map<std::string, int64_t> sizes;
    friend bool operator==(const CardMediaSnapshot&, const CardMediaSnapshot&) = default;
};

namespace EraseGate {

// The folder as the gate compares it: absolute, lexically normal, no trailing "/".
std::filesystem::path standardised(const std::filesystem::path& folder);

// Whether `report` vouches for every file of `media`: each one is, by its path relative to
// the card root and by its byte size, a primary file of one of the report's clips.
bool vouchesFor(const tessaline::VerificationReport& report, const CardMediaSnapshot& media);

// Tells whether a proving location lies on the card itself (the card's own device).
using OnCardTest = std::function<bool(const std::filesystem::path& location)>;

// The number of clips the report counts as backed up (confirmed or possible duplicate) whose
// every proving location is on the card: at or below `cardRoot` by path, or on the card by
// `onCard` (links and bind mounts). Such a clip is not backed up at all.
int selfProvenClips(const tessaline::VerificationReport& report, const std::filesystem::path& cardRoot,
                    const OnCardTest& onCard);

struct Inputs {
    const tessaline::VerificationReport* report = nullptr;   // the last scan's report, if any
    std::optional<std::filesystem::path> card;               // the picked card folder, if any
    std::optional<tessaline::VolumeIdentity> identityNow;    // read from the card's volume just now
    const CardMediaSnapshot* media = nullptr;                // the card's media as last counted, if known
    // selfProvenClips() of the report; asked only once the report is known to be of this card.
    std::function<int()> selfProven;
    // Whether a volume is mounted at the card folder now.
    bool cardMounted = true;
};

// The standing, first rule that decides: no report or no card, or a report of another folder:
// notVerified; no volume mounted at the card folder: notInserted; no identity in the report
// or none readable now, or the two do not match: differentCard; then the report's verdict with the self-proven clips counted as missing;
// and a safe or mismatch verdict becomes notVerified when the card holds a media file the
// report does not vouch for (the card was shot on since the scan).
VerificationStanding standing(const Inputs& inputs);

}  // namespace EraseGate

}  // namespace brindlecove
