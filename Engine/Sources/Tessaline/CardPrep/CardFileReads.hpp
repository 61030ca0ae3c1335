#pragma once
// The card files a scan's proofs read, as they read them: for every whole read of a file
// below the card root, the status of the open file before its first read and after its last
// (fstat) and the digest of its bytes. A scan hands observer() to the checksum engine of its
// proofs and then gives the records of its card walk (CardFileSet) what the reads found, so
// each record describes the very file whose bytes were proven, with their digest: a file
// renumbered between the walk and its read (FAT, exFAT, FUSE) is recorded under the number it
// had when read, and a file that changed between the walk and its read, while it was read, or
// between two reads, is named as changed.
// observer() may be called from any thread (the proofs read on several); applyTo() after the
// reads are done.

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Scanner/CardFileRecord.hpp"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tessaline {

class CardFileReads {
public:
    // `card`: the card root, spelled as the scan spells the paths of the files it proves.
    explicit CardFileReads(const std::filesystem::path& card);

    // Records every read of a file below the card root; other files are left alone. The
    // observer shares this object's state and must not outlive it.
    ChecksumEngine::ReadObserver observer();

    // Gives each record of `records` that was read, and that every read of it describes (its
    // size and times, unchanged throughout each read, the same digest each time, and its inode
    // number where `numbering` is identity), the digest and the inode number of its last
    // read. Returns the relative paths of the records a read contradicts, in path order.
    std::vector<std::string> applyTo(std::vector<CardFileRecord>& records,
                                     CardFileComparison::Numbering numbering) const;

private:
    struct Read {
        CardFileRecord opened;  // the open file's status, relative path left empty
        bool steady = true;     // the status after the read was the status before it
    };
    struct State {
        std::mutex lock;
        std::map<std::string, std::vector<Read>> reads;  // by relative path
    };

    std::string prefix_;  // the card root with one trailing "/"
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tessaline
