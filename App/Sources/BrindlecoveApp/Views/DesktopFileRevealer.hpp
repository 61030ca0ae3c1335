#pragma once
// The desktop's file revealer: org.freedesktop.FileManager1.ShowItems over the session bus,
// called asynchronously, falling back to opening the file's folder when no file manager
// answers; files open through QDesktopServices. Main thread.

#include "BrindlecoveApp/Platform/FileRevealer.hpp"

namespace brindlecove {

FileRevealer desktopFileRevealer();

}  // namespace brindlecove
