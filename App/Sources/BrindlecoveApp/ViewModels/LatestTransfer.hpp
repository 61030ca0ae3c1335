#pragma once
// The window's latest transfer log, whichever run made it: a verified copy (CopyViewModel)
// or a rescue copy (MissingSyncViewModel). The Production Log shows it, so every text that
// sends the user there ("Details in the Production Log tab") finds the run it speaks of.
// Either source may be absent. Main thread.

#include "Tessaline/Transfer/TransferLog.hpp"

#include <QObject>

#include <memory>

namespace brindlecove {

class CopyViewModel;
class MissingSyncViewModel;

class LatestTransfer : public QObject {
    Q_OBJECT
public:
    explicit LatestTransfer(CopyViewModel* copy, MissingSyncViewModel* rescue = nullptr, QObject* parent = nullptr);

    // The log that arrived last; at first the copy's last log, if any.
    std::shared_ptr<const tessaline::TransferLog> lastLog() const { return lastLog_; }

Q_SIGNALS:
    void lastLogChanged();

private:
    void take(std::shared_ptr<const tessaline::TransferLog> log);

    std::shared_ptr<const tessaline::TransferLog> lastLog_;
};

}  // namespace brindlecove
