#pragma once
// The file name of a scan's plain-text report in the reports folder:
// "Brindlecove Report — <card name> — <yyyy-MM-dd HHmmss>.txt". The card name is the card
// path's last component with "/" and NUL replaced by "_"; for a card without one (the file
// system root, an empty path) it is the card volume's label, else "card"; it is shortened,
// never splitting a character, so the whole name fits in 250 bytes of UTF-8 (NAME_MAX less
// room for the " 2" … " 1000" that the reports folder adds when the name is taken).
// Any thread.

#include <QString>

#include <optional>

namespace brindlecove {

QString reportTextFileName(const QString& cardPath, const std::optional<QString>& volumeLabel, const QString& stamp);

}  // namespace brindlecove
