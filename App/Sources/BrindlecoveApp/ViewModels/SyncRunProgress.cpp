#include "BrindlecoveApp/ViewModels/SyncRunProgress.hpp"

#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"

#include <QFile>

#include <algorithm>

namespace brindlecove {

using tessaline::CopyEngine;
using CheckPhase = CopyEngine::CheckingEvent::Phase;

void SyncRunProgress::apply(const CopyEngine::Event& event) {
    if (const auto* settling = std::get_if<CopyEngine::SettlingEvent>(&event)) {
        quietRemaining = settling->quietRemaining;
    } else if (const auto* listed = std::get_if<CopyEngine::PlannedEvent>(&event)) {
        quietRemaining.reset();
        planned = true;
        fileTotal = listed->fileCount;
        overallBytes = listed->totalBytes;
    } else if (const auto* started = std::get_if<CopyEngine::FileStartedEvent>(&event)) {
        fileName = QFile::decodeName(QByteArray::fromStdString(started->name));
        fileIndex = started->index;
        fileTotal = started->total;
        checking.reset();
    } else if (const auto* progress = std::get_if<CopyEngine::FileProgressEvent>(&event)) {
        overallBytesCopied = progress->overallBytesCopied;
        overallBytes = progress->overallBytes;
        checking.reset();
    } else if (const auto* check = std::get_if<CopyEngine::CheckingEvent>(&event)) {
        checking = *check;
    } else if (const auto* finished = std::get_if<CopyEngine::FileFinishedEvent>(&event)) {
        handledBytes_ += finished->outcome.byteSize;
        overallBytesCopied = handledBytes_;
        checking.reset();
    }
}

QString SyncRunProgress::statusLine() const {
    if (quietRemaining) return TransferTexts::settling(*quietRemaining);
    if (!planned) return QStringLiteral("Listing the files to sync…");
    if (checking && checking->phase == CheckPhase::readBack && !fileName.isEmpty())
        return TransferTexts::verifyingFile(fileName, fileIndex, fileTotal);
    if (checking) return TransferTexts::checking(*checking);
    if (fileName.isEmpty()) return QStringLiteral("Listing the files to sync…");
    return TransferTexts::copyingFile(fileName, fileIndex, fileTotal);
}

QString SyncRunProgress::bytesLine() const {
    if (quietRemaining || !planned) return QString();
    if (checking)
        if (const auto bytes = TransferTexts::checkedBytes(*checking)) return *bytes;
    if (checking && checking->phase != CheckPhase::readBack) return QString();
    if (overallBytes < 1) return QString();
    return TransferTexts::bytesOf(overallBytesCopied, overallBytes);
}

std::optional<double> SyncRunProgress::fraction() const {
    if (quietRemaining || !planned) return std::nullopt;
    // A copy read back stands where its copy left the run's bar.
    if (checking && checking->phase != CheckPhase::readBack) return TransferTexts::checkedFraction(*checking);
    if (overallBytes < 1) return std::nullopt;
    return static_cast<double>(std::clamp<int64_t>(overallBytesCopied, 0, overallBytes)) /
           static_cast<double>(overallBytes);
}

}  // namespace brindlecove
