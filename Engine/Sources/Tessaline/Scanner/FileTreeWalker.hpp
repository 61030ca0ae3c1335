#pragma once
// One walk of a folder tree that prunes nothing by name: every regular file below the root,
// hidden ones and those in junk-named folders included. It never follows a symbolic link and
// never enters a folder that is another mount or lies on another device (a card erase removes
// neither), and can leave one subtree out by identity (a drive walk leaves out the card).
// Each folder is opened from the root's handle with no link and no mount crossed on the way
// (openat2, or one component at a time from each parent's handle): a folder swapped for a
// link while the walk goes is never entered. Reads directory entries and file status only,
// with at most three descriptors open at a time whatever the depth. Synchronous, on the
// caller's thread.

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaline {

class FileTreeWalker {
public:
    struct File {
        std::string_view relative;  // below the root, "/"-separated
        std::string_view name;      // the last component
        const struct stat& status;  // lstat of the file, taken during the walk
        int folder;                 // the open folder holding the file, valid during the call
    };

    struct Options {
        // Whether a file named so is wanted at all; files it turns down are not stat'ed
        // (a drive walk looking for a few names). Empty: every file.
        std::function<bool(std::string_view name)> wantsName;
        // A folder left out with everything below it, by device and inode.
        std::optional<std::pair<dev_t, ino_t>> excluded;
    };

    // Calls onFile for every regular file, folder by folder (no order promised). Returns the
    // folders below the root (relative paths) that could not be opened or read to the end;
    // the walk goes on past them. Throws ScanError::cannotEnumerate(root) when the root
    // cannot be opened as a folder.
    static std::vector<std::string> walk(const std::filesystem::path& root, const Options& options,
                                         const std::function<void(const File&)>& onFile);
};

}  // namespace tessaline
