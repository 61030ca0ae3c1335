#pragma once
// One row of the Logs list: the kind's round icon, the "COPY"/"SCAN" tag and the log's
// subtitle, its summary (and its job when asked), the time of day and the check or the
// problem word. A picture only: the list under it takes the clicks and the context menu.
// Main thread.

#include "Tessaline/Report/ArchivedLog.hpp"

#include <QColor>
#include <QWidget>

namespace brindlecove {

class LogRow : public QWidget {
    Q_OBJECT
public:
    LogRow(const tessaline::ArchivedLog& log, bool showJobTag, QWidget* parent = nullptr);

    // Blue for a scan, green for a copy; orange and red when the log has a problem.
    static QColor iconColor(const tessaline::ArchivedLog& log);
    // The log's time of day in the locale's short style ("2:05 PM").
    static QString timeText(const tessaline::ArchivedLog& log);
};

}  // namespace brindlecove
