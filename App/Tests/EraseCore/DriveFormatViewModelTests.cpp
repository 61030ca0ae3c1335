// The reformat view model on the direct route (root, no system bus): real reformats of loop
// volumes to ExFAT and FAT32 with the label normalised, the refusal of a volume swapped in at
// the same path; without root and without the disk service the form says why before the
// confirmation and nothing is touched; no second reformat while one runs, and the selection
// and label rules. The route through the disk service has its own test program.

#include "Support/EraseFixtures.hpp"
#include "Support/ReformatChecks.hpp"

#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::DriveFormat;
using tessaline::testing::readFile;
using tessaline::testing::runCommand;
using tessaline::testing::writeFile;
using VM = DriveFormatViewModel;


class DriveFormatViewModelTest : public AppSandboxedTest {
protected:
    // The real system without a system bus, with the candidate list narrowed to this test's
    // own volumes.
    DriveFormatBackend withoutBus(bool privileged) {
        return DriveFormatBackend::onBus(QStringLiteral("unix:path=") + qpath(sandbox.path() / "no-bus-here"), privileged);
    }
    std::unique_ptr<VM> realModel() { return realModel(withoutBus(true)); }
    std::unique_ptr<VM> realModel(DriveFormatBackend backend) {
        backend.listCandidates = [this, real = std::move(backend.listCandidates)] {
            std::vector<tessaline::VolumeInfo> mine;
            for (const auto& volume : real())
                if (volume.url.string().rfind(sandboxRoot(), 0) == 0 || ownMounts.count(volume.url.string()))
                    mine.push_back(volume);
            return mine;
        };
        VM::Dependencies dependencies;
        dependencies.backend = std::move(backend);
        return std::make_unique<VM>(std::move(dependencies));
    }
    static std::string sandboxRoot() { return "/tmp/"; }
    bool waitForPhase(VM& vm, auto test, int timeoutMs = 60'000) {
        return waitFor([&] { return test(vm.phase()); }, timeoutMs);
    }
    void selectAndWait(VM& vm, const fs::path& volume) {
        vm.refreshVolumes();
        vm.setSelectedVolumePath(qstr(volume));
        ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
        ASSERT_TRUE(std::holds_alternative<VM::Ready>(vm.phase())) << phaseText(vm);
    }
    std::set<std::string> ownMounts;
    LoopVolumeSet loops;
};

TEST_F(DriveFormatViewModelTest, ReformatsALoopVolumeToExfatAndThenFat32) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& volume = loops.add("ext4", "OLD");
    writeFile(volume.mountPoint() / "DCIM/old.jpg", "old");
    auto vm = realModel();
    selectAndWait(*vm, volume.mountPoint());
    ASSERT_TRUE(vm->facts().has_value());
    EXPECT_EQ(vm->facts()->deviceIdentifier, volume.device());
    EXPECT_EQ(vm->newName(), "OLD");

    vm->setNewName("my card 2024!");
    EXPECT_EQ(vm->effectiveLabel(), "MY CARD 202");
    vm->setConfirmationText("old");
    EXPECT_FALSE(vm->canRun()) << "case counts";
    vm->setConfirmationText("OLD ");
    EXPECT_FALSE(vm->canRun()) << "a blank spoils it";
    vm->setConfirmationText("OLD");
    ASSERT_TRUE(vm->canRun());

    std::vector<VM::Phase> phases;
    QObject::connect(vm.get(), &VM::changed, [&] { phases.push_back(vm->phase()); });
    vm->run();
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Formatting{}));
    EXPECT_EQ(vm->runningNoun(), QString("reformat"));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 60'000));
    ASSERT_FALSE(std::holds_alternative<VM::Failed>(vm->phase())) << phaseText(*vm);
    EXPECT_EQ(blkidTag(volume.device(), "TYPE"), "exfat");
    EXPECT_EQ(blkidTag(volume.device(), "LABEL"), "MY CARD 202");
    // The direct route leaves the volume unmounted: the done message says so and stays.
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Done{QString::fromUtf8(
                               "Reformatted as ExFAT, named \u201cMY CARD 202\u201d. It is ready but not mounted.")}));
    EXPECT_FALSE(vm->selectedVolumePath().has_value());
    EXPECT_FALSE(vm->facts().has_value());
    EXPECT_EQ(vm->confirmationText(), "");

    // From exFAT (a FUSE mount) to FAT32, the typed name left empty: the current name, normalised.
    ASSERT_EQ(runCommand({"mount.exfat-fuse", volume.device(), volume.mountPoint().string()}).exitCode, 0);
    selectAndWait(*vm, volume.mountPoint());
    vm->setFormat(DriveFormat::fat32);
    vm->setNewName("");
    EXPECT_EQ(vm->effectiveLabel(), "MY CARD 202");
    vm->setConfirmationText("MY CARD 202");
    vm->run();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 60'000));
    EXPECT_EQ(blkidTag(volume.device(), "TYPE"), "vfat") << phaseText(*vm);
    EXPECT_EQ(blkidTag(volume.device(), "LABEL"), "MY CARD 202");
}

// A reformat that mounts the volume again where it was (as the disk service does): choosing
// it again and Refresh inspect the new file system, and the form runs a second reformat.
TEST_F(DriveFormatViewModelTest, AVolumeMountedAgainAfterItsReformatCanBeCheckedAndReformattedAgain) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& volume = loops.add("ext4", "FIRST");
    auto backend = withoutBus(true);
    backend.reformat = [real = backend.reformat](const fs::path& path, DriveFormat format, std::string_view name,
                                                 const VM::Facts& facts, VM::Route::Kind kind) {
        auto result = real(path, format, name, facts, kind);
        if (!result.mountPath && runCommand({"mount.exfat-fuse", facts.deviceIdentifier, path.string()}).exitCode == 0)
            result.mountPath = qstr(path);
        return result;
    };
    auto vm = realModel(std::move(backend));
    selectAndWait(*vm, volume.mountPoint());
    vm->setConfirmationText("FIRST");
    vm->setNewName("SECOND");
    vm->run();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 60'000));
    ASSERT_EQ(vm->phase(), VM::Phase(VM::Done{QString::fromUtf8("Reformatted as ExFAT, named \u201cSECOND\u201d.")}))
        << phaseText(*vm);
    ASSERT_EQ(vm->selectedVolumePath(), qstr(volume.mountPoint()));
    ASSERT_TRUE(vm->facts().has_value());
    EXPECT_EQ(vm->facts()->volumeName, "SECOND");

    // Chosen again: inspected afresh, and with its name typed the form can run.
    vm->setSelectedVolumePath(qstr(volume.mountPoint()));
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Inspecting{}));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    ASSERT_EQ(vm->phase(), VM::Phase(VM::Ready{})) << phaseText(*vm);
    EXPECT_EQ(vm->facts()->volumeName, "SECOND");
    vm->setConfirmationText("SECOND");
    EXPECT_TRUE(vm->canRun());

    // A second reformat, then Refresh: inspected afresh, and it can run once more.
    vm->setNewName("THIRD");
    vm->run();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 60'000));
    ASSERT_EQ(vm->phase(), VM::Phase(VM::Done{QString::fromUtf8("Reformatted as ExFAT, named \u201cTHIRD\u201d.")}))
        << phaseText(*vm);
    EXPECT_EQ(blkidTag(volume.device(), "LABEL"), "THIRD");
    vm->refreshVolumes();
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Inspecting{}));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    ASSERT_EQ(vm->phase(), VM::Phase(VM::Ready{})) << phaseText(*vm);
    EXPECT_EQ(vm->facts()->volumeName, "THIRD");
    vm->setConfirmationText("THIRD");
    EXPECT_TRUE(vm->canRun());
}

TEST_F(DriveFormatViewModelTest, AVolumeSwappedInAtTheSamePathIsNotFormatted) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& first = loops.add("ext4", "CARD");
    auto& second = loops.add("ext4", "CARD", 64, false);
    const fs::path place = first.mountPoint();
    auto vm = realModel();
    selectAndWait(*vm, place);
    vm->setConfirmationText("CARD");
    ASSERT_TRUE(vm->canRun());

    first.unmount();
    loops.mountAt(second, "ext4", place);
    writeFile(place / "keep.txt", "second card");
    vm->run();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 60'000));
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Failed{QString::fromStdString(
                               "The volume at " + place.string() +
                               " is no longer the one you checked \u2014 nothing was formatted. Choose it again.")}));
    EXPECT_EQ(readFile(place / "keep.txt"), "second card");
    EXPECT_EQ(blkidTag(second.device(), "TYPE"), "ext4");
    EXPECT_EQ(vm->confirmationText(), "CARD") << "a failure leaves the form as it was";

    // "Choose it again": the same entry checks the card now at that path, and the form is
    // usable for it.
    vm->setSelectedVolumePath(qstr(place));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    ASSERT_TRUE(std::holds_alternative<VM::Ready>(vm->phase())) << phaseText(*vm);
    EXPECT_EQ(vm->facts()->uuid, blkidTag(second.device(), "UUID"));
    EXPECT_EQ(vm->confirmationText(), "");
    vm->setConfirmationText("CARD");
    EXPECT_TRUE(vm->canRun());
}

TEST_F(DriveFormatViewModelTest, WithoutRootOrDiskServiceTheFormSaysWhyAndNothingIsTouched) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& volume = loops.add("ext4", "CARD");
    writeFile(volume.mountPoint() / "keep.txt", "kept");
    auto vm = realModel(withoutBus(false));
    selectAndWait(*vm, volume.mountPoint());
    ASSERT_TRUE(vm->route().has_value());
    EXPECT_EQ(vm->route()->kind, VM::Route::Kind::none);
    EXPECT_EQ(vm->routeProblem(),
              QString::fromUtf8("Reformatting goes through the system disk service (udisks2), but the system message "
                                "bus isn't running here. Install both (apt install dbus udisks2) and start the system "
                                "bus (systemctl start dbus), then choose the volume again."));
    vm->setConfirmationText("CARD");
    EXPECT_FALSE(vm->canRun());
    vm->run();
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Ready{}));
    EXPECT_TRUE(isMountPoint(volume.mountPoint()));
    EXPECT_EQ(readFile(volume.mountPoint() / "keep.txt"), "kept");
    EXPECT_EQ(blkidTag(volume.device(), "TYPE"), "ext4");
}

TEST_F(DriveFormatViewModelTest, TheDirectRouteOffersOnlyFormatsWhoseProgramIsInstalled) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& volume = loops.add("ext4", "CARD");
    auto vm = realModel();
    selectAndWait(*vm, volume.mountPoint());
    ASSERT_TRUE(vm->route().has_value());
    EXPECT_EQ(vm->route()->kind, VM::Route::Kind::direct);
    EXPECT_FALSE(vm->formatProblem(DriveFormat::exfat));
    EXPECT_FALSE(vm->formatProblem(DriveFormat::fat32));
    EXPECT_EQ(vm->formatProblem(DriveFormat::hfsPlus), QString("mkfs.hfsplus is not installed"));
    vm->setConfirmationText("CARD");
    vm->setFormat(DriveFormat::hfsPlus);
    EXPECT_FALSE(vm->canRun());
    vm->setFormat(DriveFormat::exfat);
    EXPECT_TRUE(vm->canRun());
}

// A backend over made-up volumes whose reformat waits for a release.
struct HeldBackend {
    std::vector<tessaline::VolumeInfo> listed{{"/media/u/CARD", "CARD"}, {"/media/u/CARD1", "CARD"}, {"/media/u/B", "B"}};
    std::atomic<bool> release{false};
    std::atomic<int> reformats{0};
    std::atomic<int> inspections{0};
    std::atomic<bool> refuseB{true};
    std::atomic<bool> failReformat{false};
    DriveFormatBackend backend() {
        DriveFormatBackend b;
        b.listCandidates = [this] { return listed; };
        b.inspect = [this](const fs::path& path) {
            ++inspections;
            if (path.filename() == "B" && refuseB) throw tessaline::DriveFormatError::refusedInternal("B");
            DriveFormatBackend::Facts facts;
            facts.deviceIdentifier = "/dev/sdz1";
            facts.volumeName = path.filename() == "CARD1" ? "CARD" : path.filename().string();
            facts.mountPoint = path.string();
            facts.totalBytes = 64'000'000'000;
            facts.filesystem = "ExFAT";
            return facts;
        };
        b.route = [](const DriveFormatBackend::Facts&) { return DriveFormatBackend::Route{VM::Route::Kind::direct}; };
        b.reformat = [this](const fs::path&, DriveFormat, std::string_view, const DriveFormatBackend::Facts&,
                            VM::Route::Kind) {
            ++reformats;
            for (int i = 0; i < 2000 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (failReformat) throw tessaline::DriveFormatError::diskutilFailed("The format failed.");
            return DriveFormatBackend::Result{};
        };
        return b;
    }
};

TEST_F(DriveFormatViewModelTest, AfterARefusalChoosingTheVolumeAgainOrRefreshChecksItAgain) {
    HeldBackend held;
    VM::Dependencies dependencies;
    dependencies.backend = held.backend();
    VM vm(dependencies);
    vm.refreshVolumes();
    vm.setSelectedVolumePath(QString("/media/u/B"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    ASSERT_TRUE(std::holds_alternative<VM::Refused>(vm.phase()));
    EXPECT_EQ(held.inspections, 1);

    // Refresh with the volume still listed checks it again.
    vm.refreshVolumes();
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Inspecting{}));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    EXPECT_EQ(held.inspections, 2);
    ASSERT_TRUE(std::holds_alternative<VM::Refused>(vm.phase()));

    // So does choosing the same entry, and what is there now is usable.
    held.refuseB = false;
    vm.setSelectedVolumePath(QString("/media/u/B"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    EXPECT_EQ(held.inspections, 3);
    ASSERT_EQ(vm.phase(), VM::Phase(VM::Ready{}));
    vm.setConfirmationText("B");
    EXPECT_TRUE(vm.canRun());

    // A failed reformat likewise; choosing the entry while it is ready checks nothing.
    held.release = true;
    held.failReformat = true;
    vm.run();
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    ASSERT_EQ(vm.phase(), VM::Phase(VM::Failed{"The format failed."}));
    vm.setSelectedVolumePath(QString("/media/u/B"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    EXPECT_EQ(held.inspections, 4);
    ASSERT_EQ(vm.phase(), VM::Phase(VM::Ready{}));
    vm.setSelectedVolumePath(QString("/media/u/B"));
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Ready{}));
    EXPECT_EQ(held.inspections, 4);
}

TEST_F(DriveFormatViewModelTest, NoSecondReformatAndNoRefreshWhileOneRuns) {
    HeldBackend held;
    VM::Dependencies dependencies;
    dependencies.backend = held.backend();
    VM vm(dependencies);
    vm.refreshVolumes();
    ASSERT_EQ(vm.volumes().size(), 3u);
    EXPECT_EQ(vm.entryTitle(0), QString::fromUtf8("CARD \u2014 /media/u/CARD"));
    EXPECT_EQ(vm.entryTitle(1), QString::fromUtf8("CARD \u2014 /media/u/CARD1"));
    EXPECT_EQ(vm.entryTitle(2), "B");
    vm.setSelectedVolumePath(QString("/media/u/CARD"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    vm.setConfirmationText("CARD");
    vm.run();
    ASSERT_TRUE(vm.isBusy());

    // While it runs: a refresh that would drop the volume, another selection, another run.
    held.listed = {};
    vm.refreshVolumes();
    EXPECT_EQ(vm.volumes().size(), 3u);
    vm.setSelectedVolumePath(QString("/media/u/CARD1"));
    EXPECT_EQ(vm.selectedVolumePath(), QString("/media/u/CARD"));
    vm.run();
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Formatting{}));
    // The window keeps a busy reformat view model when the section is entered again.
    {
        WindowModels models{Dialogs{}};
        auto& first = models.driveFormat();
        first.setSelectedVolumePath(QString("/nonexistent-volume"));
        ASSERT_TRUE(first.isBusy());
        EXPECT_EQ(&models.renewDriveFormat(), &first);
        ASSERT_TRUE(waitFor([&] { return !first.isBusy(); }));
        EXPECT_NE(&models.renewDriveFormat(), &first);
    }
    // The label is the one written, taken when the run started.
    vm.setNewName("changed meanwhile");
    held.release = true;
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    EXPECT_EQ(held.reformats.load(), 1);
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Done{QString::fromUtf8(
                              "Reformatted as ExFAT, named \u201cCARD\u201d. It is ready but not mounted.")}));
    EXPECT_FALSE(vm.selectedVolumePath().has_value()) << "not mounted again, so not listed";
}

TEST_F(DriveFormatViewModelTest, ADoneReformatShowsTheVolumeWhereItWasMountedAgain) {
    HeldBackend held;
    held.release = true;
    VM::Dependencies dependencies;
    dependencies.backend = held.backend();
    dependencies.backend.reformat = [&held](const fs::path&, DriveFormat, std::string_view, const VM::Facts&,
                                            VM::Route::Kind) {
        held.listed = {{"/media/u/B", "B"}, {"/media/u/NEWCARD", "NEWCARD"}};
        return DriveFormatBackend::Result{QString("/media/u/NEWCARD"), {}};
    };
    VM vm(dependencies);
    vm.refreshVolumes();
    vm.setSelectedVolumePath(QString("/media/u/CARD"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    vm.setNewName("newcard");
    vm.setConfirmationText("CARD");
    vm.run();
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Done{QString::fromUtf8("Reformatted as ExFAT, named \u201cNEWCARD\u201d.")}));
    EXPECT_EQ(vm.volumes().size(), 2u);
    EXPECT_EQ(vm.selectedVolumePath(), QString("/media/u/NEWCARD"));
    ASSERT_TRUE(vm.facts().has_value());
    EXPECT_EQ(vm.facts()->volumeName, "NEWCARD");
    EXPECT_EQ(vm.newName(), "NEWCARD");
    EXPECT_EQ(vm.confirmationText(), "");
    // The volume as mounted again was inspected: its name typed, the form can run again.
    vm.setConfirmationText("NEWCARD");
    EXPECT_TRUE(vm.canRun());
    // Refresh and choosing the volume again each inspect it afresh.
    const int inspected = held.inspections;
    vm.refreshVolumes();
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Inspecting{}));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    EXPECT_EQ(held.inspections, inspected + 1);
    ASSERT_EQ(vm.phase(), VM::Phase(VM::Ready{}));
    EXPECT_EQ(vm.selectedVolumePath(), QString("/media/u/NEWCARD"));
    vm.setConfirmationText("NEWCARD");
    EXPECT_TRUE(vm.canRun());

    // Not mounted again: what was made, and that it is ready, with the service's reason.
    DriveFormatBackend::Result unmounted{std::nullopt, "Filesystem type exfat not configured in kernel."};
    EXPECT_EQ(VM::doneMessage(DriveFormat::fat32, "CARD", unmounted),
              QString::fromUtf8("Reformatted as FAT32 (MS-DOS), named \u201cCARD\u201d. It is ready but not mounted "
                                "\u2014 Filesystem type exfat not configured in kernel."));
}

TEST_F(DriveFormatViewModelTest, SelectionRefreshAndLabelRules) {
    HeldBackend held;
    held.release = true;
    VM::Dependencies dependencies;
    dependencies.backend = held.backend();
    VM vm(dependencies);
    QObject::connect(&vm, &VM::changed, [] {});
    vm.refreshVolumes();
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Idle{}));
    vm.setSelectedVolumePath(QString("/media/u/B"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Refused{"\"B\" is an internal disk. Brindlecove only reformats external drives and cards."}));
    EXPECT_FALSE(vm.facts().has_value());

    vm.setSelectedVolumePath(QString("/media/u/CARD"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    ASSERT_EQ(vm.phase(), VM::Phase(VM::Ready{}));
    vm.setConfirmationText("CARD");
    // A refresh that still lists the selection changes nothing else.
    vm.refreshVolumes();
    EXPECT_EQ(vm.selectedVolumePath(), QString("/media/u/CARD"));
    EXPECT_EQ(vm.confirmationText(), "CARD");
    EXPECT_TRUE(vm.canRun());
    // Choosing the same entry again inspects nothing.
    vm.setSelectedVolumePath(QString("/media/u/CARD"));
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Ready{}));

    vm.setNewName("   ");
    EXPECT_EQ(vm.effectiveLabel(), "UNTITLED");
    vm.setNewName("");
    EXPECT_EQ(vm.effectiveLabel(), "CARD");
    vm.setFormat(DriveFormat::apfs);
    vm.setNewName("my card 2024!");
    EXPECT_EQ(vm.effectiveLabel(), "my card 2024!");

    // A refresh that no longer lists it ends with nothing selected.
    held.listed = {{"/media/u/B", "B"}};
    vm.refreshVolumes();
    EXPECT_FALSE(vm.selectedVolumePath().has_value());
    EXPECT_FALSE(vm.facts().has_value());
    EXPECT_EQ(vm.confirmationText(), "");
    EXPECT_EQ(vm.phase(), VM::Phase(VM::Idle{}));
}

}  // namespace
}  // namespace brindlecove::testing
