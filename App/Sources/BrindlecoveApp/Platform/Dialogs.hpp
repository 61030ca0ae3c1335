#pragma once
// The modal questions the application asks (folder panels, confirmations), behind plain
// functions so that tests answer them without opening a dialog. The window build fills them
// with QFileDialog and QMessageBox. Main thread.

#include <QString>

#include <functional>
#include <optional>

namespace brindlecove {

struct FolderRequest {
    QString prompt;           // the accept button's text, e.g. "Grant Access"
    QString message;          // the sentence telling what to pick
    bool canCreateFolders = false;
    QString startFolder;      // where the panel opens; empty or gone: the home folder
};

struct SaveRequest {
    QString suggestedName;    // the file name filled in, e.g. "Brindlecove Report.pdf"
    QString prompt;           // the accept button's text, e.g. "Export"
    QString startFolder;      // empty or gone: the home folder
};

struct Confirmation {
    QString title;
    QString message;
    QString actionText;       // the destructive or accepting button, e.g. "Clear Cache"
    bool destructive = true;
    bool noticeOnly = false;  // a notice with the one button actionText and no Cancel
};

struct Dialogs {
    // The chosen folder's path, or nullopt when the user cancelled.
    std::function<std::optional<QString>(const FolderRequest&)> chooseFolder;
    // True when the user chose the action, false on cancel.
    std::function<bool(const Confirmation&)> confirm;
    // The chosen file's path (the panel asked before replacing a file), or nullopt when the
    // user cancelled.
    std::function<std::optional<QString>(const SaveRequest&)> saveFile;
};

}  // namespace brindlecove
