#pragma once

namespace tessaline {

// The engine's version text, shown in Settings and written into ASC-MHL files.
inline constexpr const char* tessalineVersion = "0.9.0";

}  // namespace tessaline
