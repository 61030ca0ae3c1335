#pragma once
// Showing a file in the desktop's file manager and opening a file with its default
// application, behind plain functions so tests can record the calls. The window build fills
// them with the D-Bus file-manager interface and QDesktopServices. Main thread.

#include <QString>

#include <functional>

namespace brindlecove {

struct FileRevealer {
    // Called on the main thread, now or later, when nothing on the desktop could do it
    // (no file manager, no application for the file). May be empty.
    using Failed = std::function<void()>;
    // Shows the file selected in a file-manager window (its folder when that is not possible).
    std::function<void(const QString& path, Failed failed)> reveal;
    // Opens the file (or folder) with the desktop's default application.
    std::function<void(const QString& path, Failed failed)> open;
};

}  // namespace brindlecove
