#pragma once
// Paints one row of the Production Log's file list: the status symbol, the relative path,
// the checksum line in a fixed-width font, the failure reason in red for a failed file, and
// the size at the right. Every row has the same height (two lines, or three when the list
// has any failure), so the view lays out thousands of rows without measuring them. Main thread.

#include "BrindlecoveApp/Views/WrappingToolTipDelegate.hpp"

namespace brindlecove {

class TransferOutcomeDelegate : public WrappingToolTipDelegate {
    Q_OBJECT
public:
    explicit TransferOutcomeDelegate(QObject* parent = nullptr);

    // Whether rows leave room for a failure line.
    void setFailureLines(bool on) { failureLines_ = on; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    bool failureLines_ = false;
};

}  // namespace brindlecove
