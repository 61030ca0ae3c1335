#include "Tessaline/Format/BlkidRecord.hpp"
#include "Tessaline/Format/BlockDeviceRecord.hpp"
#include "Tessaline/Format/DiskTool.hpp"
#include "Tessaline/Format/DriveFormatError.hpp"
#include "Tessaline/Format/MountRecord.hpp"

#include <gtest/gtest.h>

#include <csignal>

using tessaline::DiskTool;
using tessaline::ToolRun;

TEST(DiskToolRunner, RunsByAbsolutePathWithArgumentsAsGiven) {
    // Each argument reaches the program untouched: no shell word splitting or globbing.
    ToolRun run = tessaline::runDiskToolProgram("/usr/bin/printf", {"[%s]", "a b", "*", "$HOME", "-n"});
    EXPECT_TRUE(run.succeeded());
    EXPECT_EQ(run.standardOutput, "[a b][*][$HOME][-n]");

    ToolRun relative = tessaline::runDiskToolProgram("printf", {"x"});
    EXPECT_EQ(relative.launchError, ENOENT);
    ToolRun missing = tessaline::runDiskToolProgram("/nonexistent/mkfs.exfat", {});
    EXPECT_EQ(missing.launchError, ENOENT);
    DiskTool tool;
    try {
        tool.run("/nonexistent/mkfs.exfat", {});
        FAIL() << "a missing program ran";
    } catch (const tessaline::DriveFormatError& e) {
        EXPECT_EQ(std::string(e.what()), "Couldn't run mkfs.exfat: No such file or directory");
    }
}

TEST(DiskToolRunner, DrainsBothPipesTogether) {
    // 1 MiB on standard error before anything on standard output: read one after the other,
    // the child would block on a full pipe and never exit.
    ToolRun run = tessaline::runDiskToolProgram(
        "/bin/sh", {"-c", "head -c 1048576 /dev/zero >&2; head -c 300000 /dev/zero; exit 3"});
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.standardError.size(), 1048576u);
    EXPECT_EQ(run.standardOutput.size(), 300000u);

    ToolRun killed = tessaline::runDiskToolProgram("/bin/sh", {"-c", "kill -TERM $$"});
    EXPECT_EQ(killed.signal, SIGTERM);
    EXPECT_FALSE(killed.succeeded());
}

TEST(DiskToolRunner, FailureTextNamesTheProgramThatRan) {
    ToolRun run;
    run.program = "/usr/sbin/mkfs.vfat";
    run.exitStatus = 1;
    EXPECT_EQ(DiskTool::failureText(run), "mkfs.vfat failed (status 1).");
    run.standardOutput = "  only on stdout\n";
    EXPECT_EQ(DiskTool::failureText(run), "only on stdout");
    run.standardError = "mkfs.fat: unable to open /dev/x\n";
    EXPECT_EQ(DiskTool::failureText(run), "mkfs.fat: unable to open /dev/x");
    run.standardError = "\xff\xfe";
    EXPECT_EQ(DiskTool::failureText(run), "mkfs.vfat failed (status 1).");
    run.standardError.clear();
    run.standardOutput.clear();
    run.signal = 9;
    EXPECT_EQ(DiskTool::failureText(run), "mkfs.vfat failed (signal 9).");

    DiskTool tool;
    tool.runner = [](const std::filesystem::path& program, const std::vector<std::string>&) {
        ToolRun r;
        r.program = program;
        r.exitStatus = 32;
        r.standardError = "umount: /media/u/CARD: target is busy.\n";
        return r;
    };
    try {
        tool.output("/usr/bin/umount", {"/media/u/CARD"});
        FAIL();
    } catch (const tessaline::DriveFormatError& e) {
        EXPECT_EQ(e.kind(), tessaline::DriveFormatError::Kind::diskutilFailed);
        EXPECT_EQ(std::string(e.what()), "umount: /media/u/CARD: target is busy.");
    }
}

TEST(DiskToolOutput, FindmntLsblkAndBlkidParsing) {
    auto mounts = tessaline::MountRecord::fromFindmntJson(R"({"filesystems": [
        {"source": "/dev/sdb1", "target": "/media/u/NO NAME", "fstype": "vfat", "label": null,
         "uuid": "2A9C-A474", "maj:min": "8:17", "fsroot": "/",
         "children": [{"source": "/dev/sdc1", "target": "/media/u/NO NAME/sub", "fstype": "ext4"}]}]})");
    ASSERT_TRUE(mounts);
    ASSERT_EQ(mounts->size(), 2u);
    EXPECT_EQ((*mounts)[0].target, "/media/u/NO NAME");
    EXPECT_FALSE((*mounts)[0].label);
    EXPECT_EQ((*mounts)[0].uuid, "2A9C-A474");
    EXPECT_EQ((*mounts)[0].fsRoot, "/");
    EXPECT_EQ((*mounts)[1].source, "/dev/sdc1");
    EXPECT_FALSE(tessaline::MountRecord::fromFindmntJson("findmnt: bad usage"));
    EXPECT_FALSE(tessaline::MountRecord::fromFindmntJson(R"({"other": []})"));

    // Older lsblk writes flags as "0"/"1"; without udev partitions stand beside their disk.
    auto devices = tessaline::BlockDeviceRecord::fromLsblkJson(R"({"blockdevices": [
        {"path": "/dev/sdb", "kname": "sdb", "pkname": null, "type": "disk", "size": "64021856256",
         "rm": "1", "hotplug": true, "tran": "usb", "mountpoints": [null],
         "children": [{"path": "/dev/sdb1", "kname": "sdb1", "pkname": "sdb", "type": "part",
                       "size": 64020807680, "rm": true, "hotplug": "1", "tran": null,
                       "mountpoints": ["/media/u/CARD", "/mnt/again"]}]},
        {"path": "/dev/loop2p1", "kname": "loop2p1", "pkname": "loop2", "type": "part", "size": 1,
         "rm": false, "hotplug": false, "tran": null, "mountpoints": ["[SWAP]"]}]})");
    ASSERT_TRUE(devices);
    ASSERT_EQ(devices->size(), 3u);
    EXPECT_TRUE((*devices)[0].removable);
    EXPECT_EQ((*devices)[0].sizeBytes, 64021856256);
    EXPECT_TRUE((*devices)[0].mountPoints.empty());
    EXPECT_EQ((*devices)[0].transport, "usb");
    EXPECT_EQ((*devices)[1].parentKernelName, "sdb");
    EXPECT_EQ((*devices)[1].mountPoints, (std::vector<std::string>{"/media/u/CARD", "/mnt/again"}));
    EXPECT_TRUE((*devices)[1].hotplug);
    EXPECT_FALSE((*devices)[1].transport);
    EXPECT_EQ((*devices)[2].mountPoints, std::vector<std::string>{"[SWAP]"});
    EXPECT_FALSE(tessaline::BlockDeviceRecord::fromLsblkJson("not json"));

    auto probe = tessaline::BlkidRecord::fromExport(
        "DEVNAME=/dev/loop0\nLABEL=MY\\ CARD\\ 202\nUUID=FB36-7FDF\nVERSION=FAT32\nTYPE=vfat\nnonsense\n");
    EXPECT_EQ(probe.label, "MY CARD 202");
    EXPECT_EQ(probe.uuid, "FB36-7FDF");
    EXPECT_EQ(probe.type, "vfat");
    EXPECT_EQ(probe.version, "FAT32");
    EXPECT_FALSE(tessaline::BlkidRecord::fromExport("").type);
}
