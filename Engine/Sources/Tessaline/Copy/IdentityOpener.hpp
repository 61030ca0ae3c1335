#pragma once
// A checksum opener for the copy engine (internal) that opens through the copy seam,
// follows no link at the last component, and accepts only the very file (device, inode)
// that was looked at or created: a name swapped in between is refused (ESTALE).

#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/CopyFileIO.hpp"

namespace tessaline {

// `io` must outlive the opener.
FileOpener identityOpener(CopyFileIO& io, dev_t device, ino_t inode);

}  // namespace tessaline
