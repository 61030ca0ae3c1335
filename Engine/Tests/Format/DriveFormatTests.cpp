#include "Tessaline/Format/DriveFormatEngine.hpp"

#include <gtest/gtest.h>

using tessaline::DiskInfo;
using tessaline::DriveFormat;
using tessaline::DriveFormatEngine;
using Kind = tessaline::DriveFormatError::Kind;

TEST(DriveFormat, CasesAndTexts) {
    std::vector<std::string> ids, tools;
    for (DriveFormat f : DriveFormat::allCases()) {
        ids.push_back(f.id());
        tools.push_back(f.diskutilName());
        EXPECT_EQ(DriveFormat::fromId(f.id()), f);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"exfat", "fat32", "apfs", "hfsPlus"}));
    EXPECT_EQ(tools, (std::vector<std::string>{"ExFAT", "FAT32", "APFS", "JHFS+"}));
    EXPECT_EQ(DriveFormat(DriveFormat::fat32).displayName(), "FAT32 (MS-DOS)");
    EXPECT_EQ(DriveFormat(DriveFormat::hfsPlus).displayName(), "Mac OS Extended (Journaled)");
    EXPECT_FALSE(DriveFormat::fromId("ExFAT"));
}

TEST(DriveFormat, LabelNormalisation) {
    for (DriveFormat f : {DriveFormat(DriveFormat::exfat), DriveFormat(DriveFormat::fat32)}) {
        EXPECT_EQ(f.normalized("  my card 2024!  "), "MY CARD 202");
        EXPECT_EQ(f.normalized("Caf\u00e9_Shots"), "CAF_SHOTS");
        EXPECT_EQ(f.normalized("\u00df"), "SS");
        EXPECT_EQ(f.normalized("\uFB01lm-a"), "FILM-A");  // the ligature fi upper-cases to plain FI
        EXPECT_EQ(f.normalized("!?*/.\u00e9"), "");
        EXPECT_EQ(f.normalized("\u3000\tA  B\u00a0\n"), "A  B");
        EXPECT_EQ(f.normalized("abcdefghij k"), "ABCDEFGHIJ");  // 11th character is a space, trimmed
        EXPECT_EQ(f.normalized("-rf /"), "-RF");                // stays one argument of mkfs
    }
    for (DriveFormat f : {DriveFormat(DriveFormat::apfs), DriveFormat(DriveFormat::hfsPlus)})
        EXPECT_EQ(f.normalized("  Travel Drive of Many Letters \n"), "Travel Drive of Many Letters");
}

TEST(DriveFormat, LabelChoice) {
    DriveFormat exfat = DriveFormat::exfat;
    EXPECT_EQ(DriveFormatEngine::labelFor(exfat, "", "old card"), "OLD CARD");
    EXPECT_EQ(DriveFormatEngine::labelFor(exfat, "   ", "old card"), "UNTITLED");  // blanks are a name
    EXPECT_EQ(DriveFormatEngine::labelFor(exfat, "", "\u00e9\u00e9"), "UNTITLED");
    EXPECT_EQ(DriveFormatEngine::labelFor(DriveFormat::apfs, "", "Old Card"), "Old Card");
}

namespace {

DiskInfo externalCard() {
    DiskInfo info;
    info.deviceIdentifier = "/dev/sdb1";
    info.volumeName = "EOS_DIGITAL";
    info.mountPoint = "/media/u/EOS_DIGITAL";
    info.internal = false;
    info.removableMedia = true;
    info.ejectable = true;
    info.totalSize = 64000000000;
    info.filesystemUserVisibleName = "ExFAT";
    info.uuid = "2A9C-A474";
    info.fsType = "exfat";
    info.deviceType = "part";
    return info;
}

Kind refusal(const DiskInfo& info, const std::string& path = "/media/u/EOS_DIGITAL") {
    try {
        DriveFormatEngine::factsFrom(info, path);
    } catch (const tessaline::DriveFormatError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "not refused";
    return Kind::diskutilFailed;
}

}  // namespace

TEST(DriveFormatEngineRules, FactsAndFallbacks) {
    auto facts = DriveFormatEngine::factsFrom(externalCard(), "/media/u/EOS_DIGITAL");
    EXPECT_EQ(facts.deviceIdentifier, "/dev/sdb1");
    EXPECT_EQ(facts.volumeName, "EOS_DIGITAL");
    EXPECT_FALSE(facts.isInternal);
    EXPECT_EQ(facts.totalBytes, 64000000000);
    EXPECT_EQ(facts.uuid, "2A9C-A474");

    DiskInfo bare = externalCard();
    bare.volumeName.reset();
    bare.mountPoint.reset();
    bare.totalSize.reset();
    bare.filesystemUserVisibleName.reset();
    facts = DriveFormatEngine::factsFrom(bare, "/media/u/NO NAME");
    EXPECT_EQ(facts.volumeName, "NO NAME");
    EXPECT_EQ(facts.mountPoint, "/media/u/NO NAME");
    EXPECT_EQ(facts.totalBytes, 0);
    EXPECT_EQ(facts.filesystem, "unknown");

    DiskInfo noDevice = externalCard();
    noDevice.deviceIdentifier.reset();
    EXPECT_EQ(refusal(noDevice), Kind::cannotInspect);
    DiskInfo noUuid = externalCard();
    noUuid.uuid.reset();
    EXPECT_EQ(refusal(noUuid), Kind::cannotInspect);
}

TEST(DriveFormatEngineRules, InternalRuleFailsClosedThenBootRuleByDisk) {
    DiskInfo unknown = externalCard();
    unknown.internal.reset();
    unknown.removableMedia.reset();
    unknown.ejectable.reset();
    EXPECT_EQ(refusal(unknown), Kind::refusedInternal);

    DiskInfo onlyNotInternal = unknown;
    onlyNotInternal.internal = false;
    EXPECT_NO_THROW(DriveFormatEngine::factsFrom(onlyNotInternal, "/media/u/EOS_DIGITAL"));

    DiskInfo internal = externalCard();
    internal.internal = true;
    internal.removableMedia = false;
    internal.ejectable = false;
    internal.mountPoint = "/";
    EXPECT_EQ(refusal(internal), Kind::refusedInternal);  // the internal rule comes first

    for (const char* mountPoint : {"/", "/System/Volumes/Data", "/SystemX"}) {
        DiskInfo boot = externalCard();
        boot.mountPoint = mountPoint;
        EXPECT_EQ(refusal(boot), Kind::refusedBootVolume) << mountPoint;
    }
    // A removable stick that the system booted from: its other partitions are refused too.
    DiskInfo bootStick = externalCard();
    bootStick.onSystemDisk = true;
    EXPECT_EQ(refusal(bootStick), Kind::refusedBootVolume);
}

TEST(DriveFormatEngineRules, Sentences) {
    EXPECT_STREQ(tessaline::DriveFormatError::refusedInternal("Data").what(),
                 "\"Data\" is an internal disk. Brindlecove only reformats external drives and cards.");
    EXPECT_STREQ(tessaline::DriveFormatError::refusedBootVolume("Macintosh HD").what(),
                 "\"Macintosh HD\" is (or contains) the startup disk \u2014 refusing.");
    EXPECT_STREQ(tessaline::DriveFormatError::cannotInspect("/media/u/X").what(),
                 "Couldn't identify the volume at /media/u/X \u2014 not reformatting something unidentified.");
    EXPECT_STREQ(tessaline::DriveFormatError::diskutilFailed("umount: /x: target is busy.").what(),
                 "umount: /x: target is busy.");
    EXPECT_EQ(DiskInfo::userVisibleName("vfat", std::string("FAT16")), "MS-DOS (FAT16)");
    EXPECT_EQ(DiskInfo::userVisibleName("vfat", std::nullopt), "MS-DOS (FAT32)");
    EXPECT_EQ(DiskInfo::userVisibleName("exfat", std::nullopt), "ExFAT");
    EXPECT_EQ(DiskInfo::userVisibleName("", std::nullopt), "unknown");
    EXPECT_EQ(DiskInfo::userVisibleName("fuseblk", std::nullopt), "unknown");  // exfat-fuse as well as ntfs-3g
    EXPECT_EQ(DiskInfo::userVisibleName("ntfs3", std::nullopt), "NTFS");
}
