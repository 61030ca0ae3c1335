#pragma once
// Why a name could not be made at a copy's destination, in words (internal to the copy
// engine). Camera cards and many drives use FAT, exFAT or NTFS, whose names cannot hold the
// characters " * / : < > ? \ | or a control character; a card formatted ext4 can. The drivers
// refuse such a name with an error that names something else (exfat-fuse answers "No such file
// or directory", the kernel's drivers "Invalid argument"), so the reason names the name and
// the characters at fault instead. Pure functions, safe on any thread.

#include <string>
#include <string_view>

namespace tessaline::DestinationNameFault {

// The characters of `name` that FAT, exFAT and NTFS names cannot hold, in words: "“:”",
// "“:” and “?”", "the control character U+0001"; empty when there is none.
std::string refusedCharacters(std::string_view name);

// The reason creating `name` failed with errno `error`: the name and its refused characters
// when it holds any and the error is one such a refusal gives, else the system's text.
// Examples: "the destination's file system can't hold the name “a:b.txt” (“:” isn't allowed
// in a name there)", "Permission denied".
std::string reason(std::string_view name, int error);

}  // namespace tessaline::DestinationNameFault
