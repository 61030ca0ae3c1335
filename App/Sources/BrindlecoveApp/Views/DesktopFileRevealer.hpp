#pragma once
// The desktop's file revealer: org.freedesktop.FileManager1.ShowItems over the session bus,
// called asynchronously, falling back to opening the file's folder when no file manager
// answers; files open through QDesktopServices. When nothing could open or show the path
// (no launcher on the machine), the caller's failure function is called. Main thread.

#include "BrindlecoveApp/Platform/FileRevealer.hpp"

namespace brindlecove {

FileRevealer desktopFileRevealer();

}  // namespace brindlecove
