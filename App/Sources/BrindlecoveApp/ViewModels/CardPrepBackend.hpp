#pragma once
// What the card erase needs of the system, behind plain functions: the engine's volume check,
// the volume identity, the count of a card's contents, the erase itself and the walk of the
// files it deletes that tells whether a card changed since its scan. standard() is the real system; tests
// replace single functions (a count that blocks, an identity that changes). Every function is
// called on the main thread or on a worker and must be safe on any thread.

#include "BrindlecoveApp/ViewModels/EraseGate.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/CardPrep/CardPrepEngine.hpp"
#include "Tessaline/Volumes/VolumeIdentity.hpp"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace brindlecove {

// What a count of a card found.
struct CardContents {
    int itemCount = 0;       // entries directly in the card folder, hidden ones included
    // The regular files the erase deletes: every one below, hidden ones and OS litter included,
    // but none in the spared system items (CardPrepEngine::systemItems()); links not followed,
    // other mounts not entered (as the erase goes).
    int fileCount = 0;
    int64_t totalBytes = 0;  // their sizes
    // The files the erase would delete (CardFileSet); nullopt when the walk failed or could not
    // read every folder (then nothing is known about what changed).
    std::optional<CardFiles> files;
    std::optional<tessaline::CardFileMount> filesMount;  // the mount they were walked through, if known
};

struct CardPrepBackend {
    using Path = std::filesystem::path;
    using Engine = tessaline::CardPrepEngine;

    // CardPrepEngine::check: an issue, or the facts of an erasable card.
    std::function<Engine::CheckedCard(const Path& card)> validate;
    // VolumeIdentity::read of the volume holding the card.
    std::function<std::optional<tessaline::VolumeIdentity>(const Path& card)> readIdentity;
    // Whether a volume is mounted at the card folder itself now (not: the card was ejected,
    // its folder gone or left empty on the disk that held it).
    std::function<bool(const Path& card)> isMounted;
    // Counts the card; never fails (zeros when nothing can be read).
    std::function<CardContents(const Path& card)> computePreview;
    // CardPrepEngine::prepare with the facts the pick gave and, for an erase on a safe
    // standing, the records of the files it vouched for (only those are deleted).
    std::function<Engine::Summary(const Path& card, const Engine::CardFacts& facts,
                                  const tessaline::CameraFormatProfile& profile,
                                  const std::function<bool()>& isCancelled,
                                  const std::function<void(const Engine::Event&)>& onEvent,
                                  const std::optional<CardFiles>& vouched)>
        prepare;
    // The files the erase would delete now (CardFileSet), as the scan records them; nullopt
    // when the card cannot be walked completely.
    std::function<std::optional<tessaline::CardFileSet>(const Path& card)> walkCardFiles;
    // The device (st_dev) a path reaches, links followed; nullopt when it cannot be read.
    std::function<std::optional<dev_t>(const Path& path)> deviceOf;
    // A test of whether a path lies where nothing proves the card on `device`: on an overlay,
    // on a second view of the card's device, or in a disk image that is or may be stored on
    // it (ProofGround, the scan's own judgement). Not thread-safe.
    std::function<std::function<bool(const Path& path)>(dev_t device)> viewTestOf;

    static CardPrepBackend standard();

    // The count itself, as standard().computePreview does it: one walk of the card.
    static CardContents countContents(const Path& card);

    // Reads again the files of `files` (walked through `filesMount`) that `report` recorded
    // under another inode number where the card's file system renumbers files
    // (EraseGate::renumberedSinceScan), so that their bytes decide: each such record takes the
    // digest of its bytes now (CardFileComparison::readAgain). `progress(done, total)` is
    // called only when there are any. Blocks; any thread.
    static void checkRenumbered(const Path& card, CardFiles& files,
                                const std::optional<tessaline::CardFileMount>& filesMount,
                                const tessaline::VerificationReport& report, const std::function<bool()>& isCancelled,
                                const std::function<void(int done, int total)>& progress = {});
};

}  // namespace brindlecove
