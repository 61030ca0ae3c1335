#pragma once
// One picture of a video file through FFmpeg: the first frame decoded at or after a point
// near the start (about 1 s, at most a tenth of the duration), shown as a player shows it
// (sample aspect ratio and display-matrix rotation applied), scaled to cover a size.
// Every blocking call runs under an interrupt deadline, so a card pulled mid-read ends the
// call instead of blocking the thread. Any thread; nothing shared between calls.

#include <QImage>
#include <QSize>
#include <QString>

namespace brindlecove::VideoFrameReader {

// A null image when the file cannot be opened or decoded within `deadlineMs`.
QImage frame(const QString& path, QSize cover, int deadlineMs = 5000);

// Whether the file opens as a container with at least one video or audio stream within
// `deadlineMs`. The preview asks this before handing a file to the media player, which
// must never be given a file that is gone or unreadable.
bool opensAsMedia(const QString& path, int deadlineMs = 5000);

}  // namespace brindlecove::VideoFrameReader
