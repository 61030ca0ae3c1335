// Reformats through the real system disk service (udisksd on a private system bus) of loop
// volumes: to ExFAT and FAT32 with the new name and the done message (this kernel mounts
// neither, so the volume is reported ready but not mounted), a volume swapped in at the same
// path after the check and the card then chosen again, the service stopping between the
// check and the confirmation, the refusal of a caller without rights (by polkit, before
// anything is unmounted), the current format of FUSE-mounted cards as a user without
// privilege sees it, and the form's texts without any way to reformat. Root only; every test
// starts and ends its own bus, polkit, udev daemon and service.

#include "DiskService/PrivateDiskService.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/ReformatChecks.hpp"

#include "BrindlecoveApp/Platform/SystemDiskService.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::DriveFormat;
using tessaline::testing::readFile;
using tessaline::testing::runCommand;
using tessaline::testing::writeFile;
using VM = DriveFormatViewModel;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// The rest of the scope runs as the user without privilege 65534, every thread of the process
// with it (as setresuid does on Linux); root again at its end.
class AsUserWithoutPrivilege {
public:
    AsUserWithoutPrivilege() : switched_(::setresuid(65534, 65534, 0) == 0) {}
    ~AsUserWithoutPrivilege() {
        if (switched_) (void)::setresuid(0, 0, 0);
    }
    AsUserWithoutPrivilege(const AsUserWithoutPrivilege&) = delete;
    AsUserWithoutPrivilege& operator=(const AsUserWithoutPrivilege&) = delete;
    bool switched() const { return switched_; }

private:
    bool switched_;
};

// A FAT32 volume mounted read-only through FUSE (the kernel here has no FAT driver), unmounted when
// this goes.
class FuseFatMount {
public:
    FuseFatMount(const std::string& device, const fs::path& target) : target_(target) {
        fs::create_directories(target_);
        mounted_ = runCommand({"fusefat", "-o", "ro,blkdev,fsname=" + device, device, target_.string()}).exitCode == 0;
    }
    ~FuseFatMount() {
        if (mounted_ && runCommand({"umount", target_.string()}).exitCode != 0) runCommand({"umount", "-l", target_.string()});
    }
    FuseFatMount(const FuseFatMount&) = delete;
    FuseFatMount& operator=(const FuseFatMount&) = delete;
    bool mounted() const { return mounted_; }

private:
    fs::path target_;
    bool mounted_ = false;
};

const QString goneMessage = QString::fromUtf8(
    "The system disk service (udisks2) stopped answering \u2014 nothing was formatted. Start it again (systemctl "
    "start udisks2), then choose the volume again.");

class DiskServiceReformat : public AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        if (!PrivateDiskService::unavailableReason().empty() || !LoopVolumeSet::unavailableReason().empty()) return;
        service = std::make_unique<PrivateDiskService>();
        service->start(withPolkit());
        std::printf("[ disk service ] bus, udev and udisksd up in %lld ms\n",
                    static_cast<long long>(service->startTime().count()));
    }
    // Whether the test's system has polkit's daemon, where it is installed.
    virtual bool withPolkit() const { return true; }
    void TearDown() override {
        // Mounts the service made go before the loop devices.
        for (const auto& device : devices)
            for (const auto& target : mountPointsOf(device))
                if (target.rfind("/media/", 0) == 0 || target.rfind("/run/media/", 0) == 0) runCommand({"umount", target});
        service.reset();
        AppSandboxedTest::TearDown();
    }

    // A loop volume the service knows, with its file system UUID.
    tessaline::testing::LoopVolume& volume(const std::string& fsType, const std::string& label, int sizeMiB = 64,
                                           bool mount = true) {
        auto& made = loops.add(fsType, label, sizeMiB, mount);
        devices.push_back(made.device());
        EXPECT_TRUE(service->waitUntilKnown(made.device(), blkidTag(made.device(), "UUID")));
        return made;
    }

    // The view model over the real system with the private bus; the list holds only this
    // test's own volumes, wherever they are mounted.
    std::unique_ptr<VM> model(bool privileged = true) {
        DriveFormatBackend backend = DriveFormatBackend::onBus(service->busAddress(), privileged);
        backend.listCandidates = [this] {
            std::vector<tessaline::VolumeInfo> mine;
            for (const auto& v : tessaline::VolumeDetector::listCandidateVolumes()) {
                std::string source =
                    trimmed(runCommand({"findmnt", "-n", "-o", "SOURCE", "--mountpoint", v.url.string()}).output);
                if (std::find(devices.begin(), devices.end(), source) != devices.end()) mine.push_back(v);
            }
            return mine;
        };
        VM::Dependencies dependencies;
        dependencies.backend = std::move(backend);
        return std::make_unique<VM>(std::move(dependencies));
    }

    void selectAndWait(VM& vm, const fs::path& place) {
        vm.refreshVolumes();
        vm.setSelectedVolumePath(std::nullopt);
        vm.setSelectedVolumePath(qpath(place));
        ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }, 30'000));
        ASSERT_TRUE(std::holds_alternative<VM::Ready>(vm.phase())) << phaseText(vm);
    }
    void runAndWait(VM& vm) {
        ASSERT_TRUE(vm.canRun());
        vm.run();
        ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }, 60'000));
    }
    static QString doneText(const VM& vm) {
        auto* done = std::get_if<VM::Done>(&vm.phase());
        return done ? done->message : QString();
    }
    // Checks the outcome of a reformat that named the volume `label`: mounted again where
    // the kernel has the file system, with its new entry selected; otherwise ready but not
    // mounted, and said so.
    void expectOutcome(const VM& vm, const std::string& device, const QString& made, const std::string& label) {
        const QString done = QString::fromUtf8("Reformatted as %1, named \u201c%2\u201d.")
                                 .arg(made, QString::fromStdString(label));
        const auto mounts = mountPointsOf(device);
        if (!mounts.empty()) {
            EXPECT_EQ(doneText(vm), done);
            ASSERT_TRUE(vm.selectedVolumePath().has_value());
            EXPECT_EQ(vm.selectedVolumePath()->toStdString(), mounts.front());
            ASSERT_TRUE(vm.facts().has_value());
            EXPECT_EQ(vm.facts()->volumeName, label);
            EXPECT_EQ(vm.volumes().size(), 1u);
        } else {
            EXPECT_TRUE(doneText(vm).startsWith(done + QString::fromUtf8(" It is ready but not mounted \u2014 ")))
                << phaseText(vm);
            EXPECT_FALSE(vm.selectedVolumePath().has_value());
            EXPECT_FALSE(vm.facts().has_value());
        }
    }

    std::unique_ptr<PrivateDiskService> service;
    LoopVolumeSet loops;
    std::vector<std::string> devices;
};

TEST_F(DiskServiceReformat, ToExfatThenFat32WithTheNewNameAndTheDoneMessage) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    // Large enough for FAT32: the service leaves the FAT size to mkfs, which makes FAT16 on
    // volumes of 512 MiB or less (a sparse image, so it costs nothing).
    auto& card = volume("ext4", "OLD", 600);
    writeFile(card.mountPoint() / "DCIM/old.jpg", "old");
    auto vm = model();
    selectAndWait(*vm, card.mountPoint());
    ASSERT_TRUE(vm->route().has_value());
    EXPECT_EQ(vm->route()->kind, VM::Route::Kind::diskService);
    EXPECT_EQ(vm->formatProblem(DriveFormat::apfs), QString("the system disk service can't create it"));
    EXPECT_EQ(vm->formatProblem(DriveFormat::hfsPlus), QString("the system disk service can't create it"));
    EXPECT_FALSE(vm->formatProblem(DriveFormat::exfat));
    EXPECT_FALSE(vm->formatProblem(DriveFormat::fat32));
    EXPECT_FALSE(vm->routeProblem());

    vm->setNewName("card");
    vm->setConfirmationText("OLD");
    runAndWait(*vm);
    ASSERT_TRUE(std::holds_alternative<VM::Done>(vm->phase())) << phaseText(*vm);
    EXPECT_EQ(blkidTag(card.device(), "TYPE"), "exfat");
    EXPECT_EQ(blkidTag(card.device(), "LABEL"), "CARD");
    EXPECT_FALSE(isMountPoint(card.mountPoint()));
    expectOutcome(*vm, card.device(), "ExFAT", "CARD");

    // From the exFAT card (mounted through FUSE, as the kernel has no exFAT) to FAT32.
    for (const auto& target : mountPointsOf(card.device())) runCommand({"umount", target});
    ASSERT_EQ(runCommand({"mount.exfat-fuse", card.device(), card.mountPoint().string()}).exitCode, 0);
    ASSERT_TRUE(service->waitUntilKnown(card.device(), blkidTag(card.device(), "UUID")));
    selectAndWait(*vm, card.mountPoint());
    vm->setFormat(DriveFormat::fat32);
    vm->setNewName("Day 2!");
    vm->setConfirmationText("CARD");
    runAndWait(*vm);
    ASSERT_TRUE(std::holds_alternative<VM::Done>(vm->phase())) << phaseText(*vm);
    EXPECT_EQ(blkidTag(card.device(), "TYPE"), "vfat");
    EXPECT_EQ(blkidTag(card.device(), "VERSION"), "FAT32");
    EXPECT_EQ(blkidTag(card.device(), "LABEL"), "DAY 2");
    expectOutcome(*vm, card.device(), "FAT32 (MS-DOS)", "DAY 2");
}

TEST_F(DiskServiceReformat, AVolumeSwappedInAtTheSamePathIsNotFormatted) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& first = volume("ext4", "CARD");
    auto& second = volume("ext4", "CARD", 64, false);
    const fs::path place = first.mountPoint();
    auto vm = model();
    selectAndWait(*vm, place);
    vm->setConfirmationText("CARD");
    ASSERT_TRUE(vm->canRun());

    first.unmount();
    loops.mountAt(second, "ext4", place);
    writeFile(place / "keep.txt", "second card");
    runAndWait(*vm);
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Failed{QString::fromStdString(
                               "The volume at " + place.string() +
                               " is no longer the one you checked \u2014 nothing was formatted. Choose it again.")}));
    EXPECT_EQ(readFile(place / "keep.txt"), "second card");
    EXPECT_EQ(blkidTag(second.device(), "TYPE"), "ext4");
    EXPECT_EQ(blkidTag(first.device(), "TYPE"), "ext4");

    // "Choose it again": the entry at that path now is the second card, which is checked and
    // can be reformatted.
    ASSERT_TRUE(service->waitUntilKnown(second.device(), blkidTag(second.device(), "UUID")));
    vm->refreshVolumes();
    ASSERT_EQ(vm->volumes().size(), 1u);
    vm->setSelectedVolumePath(VM::path(vm->volumes().front()));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
    ASSERT_TRUE(std::holds_alternative<VM::Ready>(vm->phase())) << phaseText(*vm);
    EXPECT_EQ(vm->facts()->deviceIdentifier, second.device());
    EXPECT_EQ(vm->facts()->uuid, blkidTag(second.device(), "UUID"));
    vm->setConfirmationText("CARD");
    EXPECT_TRUE(vm->canRun());
}

TEST_F(DiskServiceReformat, TheServiceStoppingAfterTheCheckFormatsNothing) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = volume("ext4", "CARD");
    writeFile(card.mountPoint() / "keep.txt", "kept");
    auto vm = model();
    selectAndWait(*vm, card.mountPoint());
    vm->setConfirmationText("CARD");
    service->stopDiskService();
    runAndWait(*vm);
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Failed{goneMessage}));
    EXPECT_EQ(readFile(card.mountPoint() / "keep.txt"), "kept");
    EXPECT_EQ(blkidTag(card.device(), "TYPE"), "ext4");

    // Checked again with the service gone: without root the form says why and what to start
    // before the confirmation; as root the direct route takes over.
    auto user = model(false);
    selectAndWait(*user, card.mountPoint());
    EXPECT_EQ(user->route()->kind, VM::Route::Kind::none);
    EXPECT_EQ(user->routeProblem(),
              QString::fromUtf8("Reformatting goes through the system disk service (udisks2), which isn't answering "
                                "here. Install it (apt install udisks2) and start it (systemctl start udisks2), then "
                                "choose the volume again."));
    user->setConfirmationText("CARD");
    EXPECT_FALSE(user->canRun());
    auto root = model(true);
    selectAndWait(*root, card.mountPoint());
    EXPECT_EQ(root->route()->kind, VM::Route::Kind::direct);
    EXPECT_FALSE(root->routeProblem());
}

TEST_F(DiskServiceReformat, ACallerWithoutRightsIsRefusedAndTheVolumeStaysMounted) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    // A user without a session, for whom no authentication agent answers: polkit refuses
    // (without polkit the service itself refuses every caller but root), as when the user
    // refuses or dismisses the authorisation prompt.
    auto& card = volume("ext4", "CARD");
    writeFile(card.mountPoint() / "keep.txt", "kept");
    const auto facts = tessaline::DriveFormatEngine::inspect(card.mountPoint());
    const SystemDiskService disks(service->busAddress());
    std::string refusal;
    ASSERT_EQ(::setresuid(65534, 65534, 0), 0);
    try {
        disks.reformat(facts, DriveFormat::exfat, "CARD");
    } catch (const std::exception& e) {
        refusal = e.what();
    }
    ASSERT_EQ(::setresuid(0, 0, 0), 0);
    EXPECT_EQ(refusal, "You weren't allowed to reformat \u201cCARD\u201d \u2014 nothing was formatted.");
    EXPECT_TRUE(isMountPoint(card.mountPoint()));
    EXPECT_EQ(readFile(card.mountPoint() / "keep.txt"), "kept");
    EXPECT_EQ(blkidTag(card.device(), "TYPE"), "ext4");

    // Every refusal by polkit, and nothing else, reads as not allowed.
    for (const char* name : {"org.freedesktop.UDisks2.Error.NotAuthorized",
                             "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                             "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"})
        EXPECT_TRUE(SystemDiskService::isNotAuthorized(name)) << name;
    EXPECT_FALSE(SystemDiskService::isNotAuthorized("org.freedesktop.UDisks2.Error.Failed"));
    EXPECT_FALSE(SystemDiskService::isNotAuthorized("org.freedesktop.DBus.Error.AccessDenied"));
}

TEST_F(DiskServiceReformat, APolkitRefusalLeavesTheCardMountedAndTheFormSaysSo) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    if (!service->hasPolkit()) GTEST_SKIP() << "polkitd is not installed (package polkitd)";
    auto& card = volume("ext4", "CARD");
    writeFile(card.mountPoint() / "DCIM/keep.jpg", "kept");
    const std::string uuid = blkidTag(card.device(), "UUID");
    auto vm = model(false);
    service->startRecording();
    {
        AsUserWithoutPrivilege user;
        ASSERT_TRUE(user.switched());
        selectAndWait(*vm, card.mountPoint());
        ASSERT_EQ(vm->route()->kind, VM::Route::Kind::diskService);
        vm->setConfirmationText("CARD");
        runAndWait(*vm);
    }
    const std::vector<std::string> calls = service->stopRecording();
    EXPECT_EQ(vm->phase(),
              VM::Phase(VM::Failed{QString::fromUtf8(
                  "You weren't allowed to reformat \u201cCARD\u201d \u2014 nothing was formatted.")}));
    // Asked before anything was unmounted: the card never left its place.
    const auto called = [&](const std::string& call) { return std::count(calls.begin(), calls.end(), call); };
    EXPECT_GE(called("org.freedesktop.PolicyKit1.Authority.CheckAuthorization"), 1);
    EXPECT_EQ(called("org.freedesktop.UDisks2.Filesystem.Unmount"), 0);
    EXPECT_EQ(called("org.freedesktop.UDisks2.Block.Format"), 0);
    EXPECT_TRUE(isMountPoint(card.mountPoint()));
    EXPECT_EQ(mountPointsOf(card.device()), std::vector<std::string>{card.mountPoint().string()});
    EXPECT_EQ(readFile(card.mountPoint() / "DCIM/keep.jpg"), "kept");
    EXPECT_EQ(blkidTag(card.device(), "TYPE"), "ext4");
    EXPECT_EQ(blkidTag(card.device(), "UUID"), uuid);

    // Root is granted at once, without any question, and the same form reformats it.
    vm->setSelectedVolumePath(qpath(card.mountPoint()));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
    ASSERT_TRUE(std::holds_alternative<VM::Ready>(vm->phase())) << phaseText(*vm);
    vm->setConfirmationText("CARD");
    service->startRecording();
    runAndWait(*vm);
    const std::vector<std::string> rootCalls = service->stopRecording();
    ASSERT_TRUE(std::holds_alternative<VM::Done>(vm->phase())) << phaseText(*vm);
    EXPECT_EQ(blkidTag(card.device(), "TYPE"), "exfat");
    // The right first, then the unmount, then the format.
    const auto first = [&](const std::string& call) {
        return std::find(rootCalls.begin(), rootCalls.end(), call) - rootCalls.begin();
    };
    EXPECT_LT(first("org.freedesktop.PolicyKit1.Authority.CheckAuthorization"),
              first("org.freedesktop.UDisks2.Filesystem.Unmount"));
    EXPECT_LT(first("org.freedesktop.UDisks2.Filesystem.Unmount"), first("org.freedesktop.UDisks2.Block.Format"));
    EXPECT_LT(first("org.freedesktop.UDisks2.Block.Format"), static_cast<std::ptrdiff_t>(rootCalls.size()));
}

TEST_F(DiskServiceReformat, AUserWithoutPrivilegeSeesTheCurrentFormatOfFuseMountedCards) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    if (::access("/usr/bin/fusefat", X_OK) != 0) GTEST_SKIP() << "fusefat is not installed (package fusefat)";
    // Both mounts are "fuseblk", which names no file system; the user cannot run blkid's probe.
    auto& exfat = volume("exfat", "EOS_DIGITAL");
    auto& fat = loops.add("vfat", "FATCARD", 64, false);
    devices.push_back(fat.device());
    FuseFatMount fatMount(fat.device(), sandbox.path() / "FATCARD");
    ASSERT_TRUE(fatMount.mounted());
    ASSERT_TRUE(service->waitUntilKnown(fat.device(), blkidTag(fat.device(), "UUID")));

    auto vm = model(false);
    const auto formatSeen = [&](const fs::path& place) {
        selectAndWait(*vm, place);
        return vm->facts() ? vm->facts()->filesystem : std::string("(none)");
    };
    {
        AsUserWithoutPrivilege user;
        ASSERT_TRUE(user.switched());
        // From the disk service.
        EXPECT_EQ(formatSeen(exfat.mountPoint()), "ExFAT");
        EXPECT_EQ(formatSeen(sandbox.path() / "FATCARD"), "MS-DOS (FAT32)");
    }
    // Without the service, from the udev database.
    service->stopDiskService();
    {
        AsUserWithoutPrivilege user;
        ASSERT_TRUE(user.switched());
        EXPECT_EQ(tessaline::DriveFormatEngine::inspect(exfat.mountPoint()).filesystem, "ExFAT");
        EXPECT_EQ(tessaline::DriveFormatEngine::inspect(sandbox.path() / "FATCARD").filesystem, "MS-DOS (FAT32)");
    }
}

TEST_F(DiskServiceReformat, AFormatFailingAfterTheUnmountSaysTheCardIsLeftUnmountedAndWhy) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    // mkfs.vfat refuses a label with "*" after the service has wiped the card: the card
    // cannot be mounted again.
    auto& card = volume("ext4", "CARD");
    const auto facts = tessaline::DriveFormatEngine::inspect(card.mountPoint());
    const SystemDiskService disks(service->busAddress());
    std::string failure;
    try {
        disks.reformat(facts, DriveFormat::fat32, "BAD*LABEL");
    } catch (const std::exception& e) {
        failure = e.what();
    }
    EXPECT_TRUE(mountPointsOf(card.device()).empty());
    EXPECT_NE(failure.find("\u201cCARD\u201d is left unmounted \u2014 mounting it again failed: "), std::string::npos)
        << failure;
    EXPECT_NE(failure.find("mounting it again failed: it holds no file system the system can read now. To mount it, "
                           "unplug it and plug it in again, or run: udisksctl mount -b " +
                           card.device()),
              std::string::npos)
        << failure;
}

TEST_F(DiskServiceReformat, TheServiceMountsNothingByItself) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    // A new unmounted card, announced to udev as when it is plugged in: it stays unmounted.
    auto& card = volume("ext4", "PLUGGED", 64, false);
    runCommand({"udevadm", "trigger", "--action=add", card.device()});
    ASSERT_TRUE(service->waitUntilKnown(card.device(), blkidTag(card.device(), "UUID")));
    EXPECT_TRUE(mountPointsOf(card.device()).empty());
}

// The same, on a system without polkit's daemon.
class DiskServiceWithoutPolkit : public DiskServiceReformat {
protected:
    bool withPolkit() const override { return false; }
};

TEST_F(DiskServiceWithoutPolkit, AUserIsRefusedBeforeTheUnmountAndAFailureAfterItSaysHowToMountTheCard) {
    BRINDLECOVE_REQUIRE_DISK_SERVICE();
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    ASSERT_FALSE(service->hasPolkit());
    auto& card = volume("ext4", "CARD");
    writeFile(card.mountPoint() / "keep.txt", "kept");
    const auto facts = tessaline::DriveFormatEngine::inspect(card.mountPoint());
    const SystemDiskService disks(service->busAddress());
    auto failureOf = [&](const QString& label) {
        try {
            disks.reformat(facts, DriveFormat::exfat, label);
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("<formatted>");
    };

    // Without polkit the service refuses every caller but root: a user is told so before
    // anything is unmounted, and the card stays as it was.
    std::string refusal;
    {
        AsUserWithoutPrivilege user;
        ASSERT_TRUE(user.switched());
        refusal = failureOf(QStringLiteral("CARD"));
    }
    EXPECT_EQ(refusal, "Reformatting \u201cCARD\u201d needs the system's authorization service (polkit), which isn't "
                       "running here \u2014 nothing was formatted. Install it (apt install polkitd) and start it "
                       "(systemctl start polkit), then choose the volume again.");
    EXPECT_TRUE(isMountPoint(card.mountPoint()));
    EXPECT_EQ(readFile(card.mountPoint() / "keep.txt"), "kept");

    // As root, the format refused after the unmount (mkfs.exfat takes no label this long,
    // after the service has wiped the card): the card can't be mounted again, and the message
    // says so and how to mount it.
    const std::string failure = failureOf(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
    EXPECT_TRUE(mountPointsOf(card.device()).empty());
    EXPECT_NE(failure.find("\u201cCARD\u201d is left unmounted \u2014 mounting it again failed: it holds no file system "
                           "the system can read now. To mount it, unplug it and plug it in again, or run: udisksctl "
                           "mount -b " +
                           card.device()),
              std::string::npos)
        << failure;
}

}  // namespace
}  // namespace brindlecove::testing
