// "Inside the card" on real volumes: a destination that reaches the card's own file system at
// or below the card root through another mount (a bind mount of a card folder or of the card,
// a second mount of the card's device, for exFAT another FUSE daemon) is the card, however
// its path reads; so is a file system that shows the card's own bytes another way (a loop
// device over the card's device mounted through a node made outside /dev, a loop over the
// card's image file) or lies in a disk image kept on the card. Folders elsewhere on that file
// system, and images kept elsewhere, are not.

#include "Support/CardViews.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <set>
#include <stdexcept>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;

const std::string insideText =
    "The destination folder is inside the card being copied — choose a folder on another drive.";

std::set<std::string> treeOf(const fs::path& root) {
    std::set<std::string> names;
    for (auto& entry : fs::recursive_directory_iterator(root))
        names.insert(fs::relative(entry.path(), root).native() + (entry.is_directory() ? "/" : ""));
    return names;
}

std::vector<MediaFile> makeClips(const fs::path& root) {
    std::vector<MediaFile> files;
    for (int i = 0; i < 3; ++i) {
        fs::path path = root / "DCIM/100CANON" / ("MVI_000" + std::to_string(i) + ".MOV");
        writePatternFile(path, 50'000 + i, 20 + i);
        files.push_back({path, MediaFile::Kind::media, 50'000 + i});
    }
    return files;
}

class DestinationInsideCardTest : public SandboxedTest {
protected:
    // The card copy and the file-list copy into `destination` are both refused, and the card
    // is left as it was.
    void expectRefused(const fs::path& card, const std::vector<MediaFile>& files, const fs::path& destination,
                       const std::string& text = insideText) {
        SCOPED_TRACE(destination.native());
        const auto before = treeOf(card);
        try {
            auto run = CopyEngine().copy(card, destination, {}, SettleOptions::none(), [] { return false; });
            ADD_FAILURE() << "copied " << run.outcomes.size() << " files onto the card itself";
        } catch (const CopyError& error) {
            EXPECT_EQ(error.kind(), CopyError::Kind::destinationInsideSource);
            EXPECT_EQ(error.what(), text);
        }
        auto run = CopyEngine().copy(files, card, destination, {}, [] { return false; });
        ASSERT_EQ(run.outcomes.size(), files.size());
        for (const auto& outcome : run.outcomes) {
            EXPECT_EQ(outcome.status.kind, Kind::failed);
            EXPECT_EQ(outcome.status.reason.value_or(""), text);
        }
        EXPECT_EQ(treeOf(card), before);
    }

    void expectCopied(const fs::path& card, const std::vector<MediaFile>& files, const fs::path& destination) {
        SCOPED_TRACE(destination.native());
        auto run = CopyEngine().copy(files, card, destination, {}, [] { return false; });
        ASSERT_EQ(run.outcomes.size(), files.size());
        for (const auto& outcome : run.outcomes) {
            EXPECT_EQ(outcome.status.kind, Kind::copiedVerified) << outcome.status.reason.value_or("");
            EXPECT_EQ(readFile(outcome.destinationURL), readFile(outcome.sourceURL));
        }
    }
};

TEST_F(DestinationInsideCardTest, TheCardReachedThroughAnotherMountIsRefused) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        auto files = makeClips(root);
        fs::create_directories(root / "backup/old");

        // A folder of the card bound elsewhere: by path and by inode a folder like any other.
        ScopedMount folder({"--bind", (root / "backup").string()}, sandbox / fsType / "x");
        expectRefused(root, files, folder.target());
        expectRefused(root, files, folder.target() / "old");
        expectRefused(root, files, folder.target() / "Day1/new");

        // The card itself bound elsewhere, with a folder in it as the destination.
        ScopedMount whole({"--bind", root.string()}, sandbox / fsType / "whole");
        expectRefused(root, files, whole.target() / "backup");
        expectRefused(root, files, whole.target() / "Day1");

        // Copying a card folder: a bind of that folder's subfolder is inside, a bind of a
        // sibling folder is not.
        const fs::path dcim = root / "DCIM";
        ScopedMount inDcim({"--bind", (root / "DCIM/100CANON").string()}, sandbox / fsType / "in-dcim");
        expectRefused(dcim, files, inDcim.target() / "copy");
        expectCopied(dcim, files, folder.target() / "dcim-copy");

        // A second mount of the card's device (for exFAT a second FUSE daemon, with a device
        // number of its own). Nothing is written through either mount from here on.
        ScopedMount again({"-t", fsType == "exfat" ? "exfat-fuse" : fsType, card.device()}, sandbox / fsType / "again");
        expectRefused(root, files, again.target() / "backup");
        expectRefused(root, files, again.target());
    }
}

TEST_F(DestinationInsideCardTest, AViewOfTheCardsOwnBytesOrAnImageKeptOnItIsRefused) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        auto files = makeClips(root);
        ::sync();
        ReadOnlyLoop overCard(card.device());
        auto view = mountReadOnly(fsType, nodeOutsideDev(overCard.device(), sandbox / fsType / "nodes/view"),
                                  sandbox / fsType / "view");
        // Each refused with its own reason, never as a folder inside the card.
        const std::string viewText =
            "The destination folder is on a second view of the card's own device \u2014 choose a folder on another drive.";
        expectRefused(root, files, view->target() / "backup", viewText);
        ReadOnlyLoop overImage(card.image().string());
        auto second = mountReadOnly(fsType, overImage.device(), sandbox / fsType / "second");
        expectRefused(root, files, second->target(), viewText);

        fs::create_directories(root / "System Volume Information");
        LoopVolume onCard("ext4", 16, "ON_CARD", true, root / "System Volume Information/backup.img");
        expectRefused(root, files, onCard.mountPoint() / "backup",
                      "The destination folder is inside a disk image stored on the card \u2014 choose a folder on "
                      "another drive.");
        LoopVolume elsewhere("ext4", 16, "ELSEWHERE");
        expectCopied(root, files, elsewhere.mountPoint() / "backup");
    }
}

TEST_F(DestinationInsideCardTest, OtherFoldersOfTheCardsFileSystemAndACardInsideTheDestinationAreAllowed) {
    TESSALINE_REQUIRE_ROOT();
    // The card is a folder on a big disk; the destinations lie elsewhere on that disk.
    LoopVolume disk("ext4", 64, "BIG");
    const fs::path cardRoot = disk.mountPoint() / "cards/A";
    auto files = makeClips(cardRoot);
    fs::create_directories(disk.mountPoint() / "backup");
    ScopedMount backup({"--bind", (disk.mountPoint() / "backup").string()}, sandbox / "bk");
    ScopedMount again({"-t", "ext4", disk.device()}, sandbox / "again");

    expectCopied(cardRoot, files, backup.target() / "viaBind");
    expectCopied(cardRoot, files, again.target() / "backup/viaSecondMount");
    expectCopied(cardRoot, files, disk.mountPoint() / "cards/A2");  // a name that only starts like the card's
    expectCopied(cardRoot, files, again.target() / "cards/A2/second");
    // The card lies inside the destination.
    expectCopied(cardRoot, files, disk.mountPoint() / "cards");
    expectCopied(cardRoot, files, again.target());
    auto run = CopyEngine().copy(cardRoot, again.target() / "cards/B", {}, SettleOptions::none(), [] { return false; });
    EXPECT_EQ(run.outcomes.size(), files.size());
    for (const auto& outcome : run.outcomes) EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
}

// A udev database record for a device, as udevd leaves one behind for a loop device that
// another program detached and attached anew before udevd caught up; removed when the object dies.
class StaleUdevRecord {
public:
    StaleUdevRecord(const std::string& node, const std::string& uuid) {
        if (!fs::exists("/run/udev/data")) {
            fs::create_directories("/run/udev/data");
            madeFolder_ = true;
        }
        const dev_t device = deviceNumberOfNode(node);
        file_ = "/run/udev/data/b" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
        if (fs::exists(file_)) throw std::runtime_error("a udev record exists already: " + file_.string());
        writeFile(file_, "E:ID_FS_UUID=" + uuid + "\nE:ID_FS_UUID_ENC=" + uuid + "\nE:ID_FS_TYPE=ext4\n");
    }
    ~StaleUdevRecord() {
        std::error_code ec;
        fs::remove(file_, ec);
        // Only while empty: a udev daemon started since by another program keeps its own.
        if (madeFolder_) {
            ::rmdir("/run/udev/data");
            ::rmdir("/run/udev");
        }
    }

private:
    fs::path file_;
    bool madeFolder_ = false;
};

TEST_F(DestinationInsideCardTest, ADriveTheUdevDatabaseStillDescribesAsTheCardIsNotTheCard) {
    TESSALINE_REQUIRE_ROOT();
    // Only a daemon that answers on this namespace's control socket rewrites records; a socket a
    // stopped daemon left behind does not.
    if (runCommand({"/usr/bin/udevadm", "control", "--ping", "--timeout=2"}).exitCode == 0)
        GTEST_SKIP() << "a udev daemon runs here and would rewrite the record";
    LoopVolume card("ext4", 64, "CARD");
    LoopVolume drive("ext4", 16, "DRIVE");
    auto files = makeClips(card.mountPoint());
    const std::string cardUuid = runCommand({"blkid", "-p", "-s", "UUID", "-o", "value", card.device()}).output;
    ASSERT_FALSE(cardUuid.empty());
    {
        // The drive's loop device showed the card's image before: its record still says so.
        StaleUdevRecord stale(drive.device(), cardUuid.substr(0, cardUuid.find('\n')));
        expectCopied(card.mountPoint(), files, drive.mountPoint() / "backup");
    }
    // The card's own device under that record is the card all the same.
    StaleUdevRecord own(card.device(), "00000000-0000-0000-0000-000000000000");
    ScopedMount again({"-t", "ext4", card.device()}, sandbox / "again");
    expectRefused(card.mountPoint(), files, again.target() / "backup");
}

}  // namespace
}  // namespace tessaline
