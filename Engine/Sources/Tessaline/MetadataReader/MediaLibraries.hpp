#pragma once
// One-time, process-wide set-up of the media libraries the metadata reader uses.
// Exiv2 needs XmpParser::initialize() before images are read on several threads and
// enableBMFF(true), without which CR3, HEIC and HEIF silently yield degraded fingerprints.
// Both Exiv2 and FFmpeg write warnings to stderr unless they are muted here.

namespace tessaline {

// Idempotent and safe to call from any thread; the work runs once per process.
void initializeMediaLibraries();

}  // namespace tessaline
