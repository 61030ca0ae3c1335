#include "Tessaline/Format/DriveFormatEngine.hpp"

#include "Tessaline/Format/BlkidRecord.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"

#include <fcntl.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// The program that creates `format`, and its arguments for `label` on `device`. The label
// is one argument after its option, so a label starting with "-" is never taken as an option.
struct MkfsCommand {
    fs::path program;
    std::vector<std::string> arguments;
};

MkfsCommand mkfsCommand(DriveFormat format, const std::string& label, const DriveFormatEngine::VolumeFacts& facts,
                        const DiskTool& tool) {
    const std::string& device = facts.deviceIdentifier;
    switch (format.value()) {
        case DriveFormat::exfat: return {tool.programs.mkfsExfat, {"-L", label, device}};
        case DriveFormat::fat32: {
            // A file system straight on a whole disk ("superfloppy" card) needs -I, or
            // mkfs.fat refuses to write over what it takes for a partitioned disk.
            std::vector<std::string> args = {"-F", "32", "-n", label};
            if (facts.deviceType == "disk") args.push_back("-I");
            args.push_back(device);
            return {tool.programs.mkfsVfat, args};
        }
        case DriveFormat::apfs: return {tool.programs.mkapfs, {"-L", label, device}};
        case DriveFormat::hfsPlus: return {tool.programs.mkfsHfsplus, {"-J", "-v", label, device}};
    }
    return {};
}

bool isBlockDevice(const std::string& device) {
    struct stat st{};
    return device.rfind("/dev/", 0) == 0 && ::stat(device.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

// Mounts `device` back at the places it was unmounted from (`unmounted`, in the order of
// unmounting; mounts go back in the opposite order). Returns why the first mount back that
// failed did ("" when none did).
std::string remountBestEffort(const std::string& device, const std::vector<std::string>& unmounted,
                              const DiskTool& tool) {
    std::string failure;
    for (auto it = unmounted.rbegin(); it != unmounted.rend(); ++it) {
        const std::string& target = *it;
        std::error_code ec;
        if (!fs::is_directory(target, ec)) {
            if (failure.empty()) failure = "the folder " + toDisplayUtf8(std::string_view(target)) + " is gone";
            continue;
        }
        try {
            ToolRun run = tool.run(tool.programs.mount, {device, target});
            if (!run.succeeded() && failure.empty()) failure = DiskTool::failureText(run);
        } catch (const DriveFormatError& e) {
            if (failure.empty()) failure = e.what();
        }
    }
    return failure;
}

// Whether a probe of the device shows the inspected file system: its UUID, and its type where
// the inspection knew one.
bool sameFileSystem(const BlkidRecord& probe, const DriveFormatEngine::VolumeFacts& facts) {
    return probe.uuid == facts.uuid && (facts.fsType.empty() || probe.type == facts.fsType);
}

// `text` as one word of a shell command line: quoted when it holds anything but plain characters.
std::string shellWord(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789/._-+:@") == std::string::npos;
    if (plain) return toDisplayUtf8(std::string_view(text));
    std::string quoted = "'";
    for (char c : toDisplayUtf8(std::string_view(text))) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

DriveFormatEngine::VolumeFacts DriveFormatEngine::factsFrom(const DiskInfo& info, const fs::path& volumeAt) {
    const std::string shownPath = toDisplayUtf8(volumeAt);
    if (!info.deviceIdentifier || info.deviceIdentifier->empty()) throw FormatError::cannotInspect(shownPath);
    VolumeFacts facts;
    facts.deviceIdentifier = *info.deviceIdentifier;
    facts.volumeName = info.volumeName.value_or(lastComponent(volumeAt));
    facts.mountPoint = info.mountPoint.value_or(volumeAt.native());
    facts.totalBytes = info.totalSize.value_or(0);
    facts.filesystem = info.filesystemUserVisibleName.value_or("unknown");

    // Missing flags never count as external.
    bool external = info.internal == false || info.removableMedia == true || info.ejectable == true;
    if (!external) throw FormatError::refusedInternal(toDisplayUtf8(std::string_view(facts.volumeName)));
    if (facts.mountPoint == "/" || facts.mountPoint.rfind("/System", 0) == 0 || info.onSystemDisk)
        throw FormatError::refusedBootVolume(toDisplayUtf8(std::string_view(facts.volumeName)));

    // Without a UUID a swapped card could not be told from the inspected one.
    if (!info.uuid || info.uuid->empty()) throw FormatError::cannotInspect(shownPath);
    facts.uuid = *info.uuid;
    facts.fsType = info.fsType.value_or("");
    facts.deviceType = info.deviceType;
    facts.isInternal = false;
    return facts;
}

DriveFormatEngine::VolumeFacts DriveFormatEngine::inspect(const fs::path& volumeAt, const DiskTool& tool) {
    VolumeFacts facts = factsFrom(DiskInfo::read(volumeAt, tool), volumeAt);
    facts.mountId = lastingMountId(AT_FDCWD, volumeAt.c_str(), 0);
    return facts;
}

DriveFormatEngine::VolumeFacts DriveFormatEngine::confirmSame(const fs::path& volumeAt, const VolumeFacts& inspected,
                                                              const DiskTool& tool) {
    VolumeFacts facts = inspect(volumeAt, tool);
    if (inspected.uuid.empty() || facts.deviceIdentifier != inspected.deviceIdentifier ||
        facts.uuid != inspected.uuid || facts.mountId != inspected.mountId)
        throw FormatError::volumeChanged(toDisplayUtf8(volumeAt));
    return facts;
}

std::optional<std::string> DriveFormatEngine::missingFormatProgram(Format format, const DiskTool& tool) {
    fs::path program = mkfsCommand(format, "", VolumeFacts{}, tool).program;
    if (::access(program.c_str(), X_OK) == 0) return std::nullopt;
    return lastComponent(program);
}

std::string DriveFormatEngine::labelFor(Format format, std::string_view newName, std::string_view currentName) {
    std::string label = format.normalized(newName.empty() ? currentName : newName);
    return label.empty() ? "UNTITLED" : label;
}

std::string DriveFormatEngine::reformat(const fs::path& volumeAt, Format format, std::string_view newName,
                                        const VolumeFacts& inspected, const DiskTool& tool) {
    const std::string shownPath = toDisplayUtf8(volumeAt);

    // 1. The same volume as the one the user checked: same device, file system and mount.
    VolumeFacts facts = confirmSame(volumeAt, inspected, tool);
    const std::string label = labelFor(format, newName, facts.volumeName);

    // 2. The format's program must be here before anything is unmounted.
    MkfsCommand command = mkfsCommand(format, label, facts, tool);
    if (auto missing = missingFormatProgram(format, tool))
        throw FormatError::formatUnavailable(format.displayName(), *missing);

    // 3. The probe that checks the superblock after the unmount must answer now, and see the
    // inspected file system: a probe refused later could not tell the card from another one.
    auto probe = [&](const std::string& when) {
        ToolRun run = tool.run(tool.programs.blkid, {"-p", "-o", "export", facts.deviceIdentifier});
        if (!run.succeeded())
            throw FormatError::diskutilFailed("Couldn't check the volume at " + shownPath + when + ": " +
                                              DiskTool::failureText(run) + " \u2014 nothing was formatted.");
        if (!sameFileSystem(BlkidRecord::fromExport(run.standardOutput), facts)) throw FormatError::volumeChanged(shownPath);
    };
    probe("");

    // 4. Every mount of the device goes, or nothing is formatted. Any failure from here on
    // mounts the volume back where it was, unless the device now holds another file system.
    std::vector<std::string> unmounted;
    try {
        std::vector<std::string> targets = DiskInfo::mountPointsOf(facts.deviceIdentifier, tool);
        for (auto it = targets.rbegin(); it != targets.rend(); ++it) {
            ToolRun run = tool.run(tool.programs.umount, {*it});
            if (!run.succeeded()) throw FormatError::diskutilFailed(DiskTool::failureText(run));
            unmounted.push_back(*it);
        }

        // 5. Nothing may have changed meanwhile: still a block device, no mount left, and
        // the superblock still holds the inspected file system.
        if (!DiskInfo::mountPointsOf(facts.deviceIdentifier, tool).empty())
            throw FormatError::diskutilFailed("The volume at " + shownPath +
                                              " is still mounted \u2014 nothing was formatted.");
        if (!isBlockDevice(facts.deviceIdentifier))
            throw FormatError::diskutilFailed("The volume at " + shownPath +
                                              " went away while it was unmounted \u2014 nothing was formatted.");
        probe(" again after unmounting it");

        // 6. Format.
        ToolRun made = tool.run(command.program, command.arguments);
        if (!made.succeeded()) throw FormatError::diskutilFailed(DiskTool::failureText(made));
        return isValidUtf8(made.standardOutput) ? made.standardOutput : std::string("Done.");
    } catch (const FormatError& e) {
        if (unmounted.empty()) throw;
        const std::string name = toDisplayUtf8(std::string_view(facts.volumeName));
        const std::string howToMount = "mount " + facts.deviceIdentifier + " " + shellWord(unmounted.back());
        // Another file system on the device now: not ours to mount, but the user must know it
        // is not mounted.
        if (e.kind() == FormatError::Kind::volumeChanged)
            throw FormatError::volumeChanged(shownPath, FormatError::leftUnmountedNote(name, {}, howToMount));
        const std::string failure = remountBestEffort(facts.deviceIdentifier, unmounted, tool);
        // Mounted again (somewhere): the failure alone is the news.
        bool stillUnmounted = false;
        try {
            stillUnmounted = DiskInfo::mountPointsOf(facts.deviceIdentifier, tool).empty();
        } catch (const FormatError&) {
        }
        if (!stillUnmounted) throw;
        throw FormatError::leftUnmounted(e.what(), name, failure, howToMount);
    }
}

}  // namespace tessaline
