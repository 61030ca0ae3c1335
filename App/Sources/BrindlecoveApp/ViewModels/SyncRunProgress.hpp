#pragma once
// How far one running sync pair is, followed from the copy events its run sends (the settle
// wait, the files and bytes of the copy, the checks that copy nothing), and the lines the
// Sync section shows for it, worded as the Copy section words a card copy. A plain value;
// any thread.

#include "Tessaline/Copy/CopyEngine.hpp"

#include <QString>

#include <cstdint>
#include <optional>

namespace brindlecove {

struct SyncRunProgress {
    QString pairName;
    std::optional<double> quietRemaining;  // while waiting for the source to stop changing
    bool planned = false;                  // the copy has listed its files
    QString fileName;                      // the file being copied, empty before the first
    int fileIndex = 0;                     // from 0
    int fileTotal = 0;
    int64_t overallBytesCopied = 0;        // over the whole run, as the copy counts them
    int64_t overallBytes = 0;
    // While a check that copies nothing runs (files on the drive, a copy read back, the card
    // looked at again): what and how far.
    std::optional<tessaline::CopyEngine::CheckingEvent> checking;

    // Takes one event of the pair's run; events of no interest leave it as it was.
    void apply(const tessaline::CopyEngine::Event& event);

    // "Waiting for card to finish writing… 2.0s", "Listing the files to sync…", "Copying <name>
    // — file <n> of <total>", "Verifying <name> — file <n> of <total>", or the check's own line.
    QString statusLine() const;
    // The bytes: "<copied> of <total>" for the copy, the check's bytes for a check that reads a
    // file ("… compared", "… read back"); empty where none are counted yet.
    QString bytesLine() const;
    // How far the bar stands, in 0…1 (the run's bytes, or the check's own count); nullopt for
    // a busy bar (waiting, listing, a run of no bytes).
    std::optional<double> fraction() const;

    bool operator==(const SyncRunProgress&) const = default;

private:
    int64_t handledBytes_ = 0;  // the bytes of the files finished, as fileProgress counts them
};

}  // namespace brindlecove
