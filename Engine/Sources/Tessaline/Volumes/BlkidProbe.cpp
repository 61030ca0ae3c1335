#include "Tessaline/Volumes/BlkidProbe.hpp"

#include <blkid/blkid.h>

#include <memory>

namespace tessaline {

namespace {

struct ProbeFree {
    void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};

std::optional<std::string> lookup(blkid_probe probe, const char* name) {
    const char* data = nullptr;
    size_t length = 0;
    if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || !data) return std::nullopt;
    std::string value(data, length);
    while (!value.empty() && value.back() == '\0') value.pop_back();  // length counts the NUL
    if (value.empty()) return std::nullopt;
    return value;
}

}  // namespace

FileSystemTags probeFileSystem(const std::string& devicePath) {
    FileSystemTags tags;
    std::unique_ptr<blkid_struct_probe, ProbeFree> probe(blkid_new_probe_from_filename(devicePath.c_str()));
    if (!probe) return tags;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe.get()) != 0) return tags;
    tags.label = lookup(probe.get(), "LABEL");
    tags.uuid = lookup(probe.get(), "UUID");
    tags.type = lookup(probe.get(), "TYPE");
    return tags;
}

}  // namespace tessaline
