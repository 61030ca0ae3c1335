#pragma once
// The window's one record of the scan reports an erase was started on. Such a report no
// longer tells what its card holds, whatever its verdict said: the erase gate never lets it
// vouch for the card again, and every section that shows it says the card was erased after the
// scan. An erase refused before anything was deleted takes its mark back. The record holds the
// reports weakly: a report nobody holds any more is shown nowhere. Main thread.

#include "Tessaline/Report/VerificationReport.hpp"

#include <QObject>

#include <memory>
#include <vector>

namespace brindlecove {

class ErasedReports : public QObject {
    Q_OBJECT
public:
    using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;

    explicit ErasedReports(QObject* parent = nullptr);

    // Records that an erase was started on `report`; returns whether it was not recorded yet.
    bool add(const ReportPtr& report);
    // Takes the mark back (an erase refused before it deleted anything).
    void remove(const ReportPtr& report);
    bool contains(const tessaline::VerificationReport* report) const;
    bool contains(const ReportPtr& report) const { return contains(report.get()); }

Q_SIGNALS:
    // A report was added or removed.
    void changed();

private:
    std::vector<std::weak_ptr<const tessaline::VerificationReport>> reports_;
};

}  // namespace brindlecove
