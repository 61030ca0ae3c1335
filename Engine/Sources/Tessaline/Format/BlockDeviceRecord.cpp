#include "Tessaline/Format/BlockDeviceRecord.hpp"

#include "Tessaline/Format/JsonField.hpp"

#include <nlohmann/json.hpp>

namespace tessaline {

std::optional<std::vector<BlockDeviceRecord>> BlockDeviceRecord::fromLsblkJson(std::string_view json) {
    auto items = treeItems(json, "blockdevices");
    if (!items) return std::nullopt;
    std::vector<BlockDeviceRecord> out;
    for (const auto& item : *items) {
        BlockDeviceRecord record;
        record.path = textField(item, "path").value_or("");
        record.kernelName = textField(item, "kname").value_or("");
        record.parentKernelName = textField(item, "pkname");
        if (record.parentKernelName && record.parentKernelName->empty()) record.parentKernelName.reset();
        record.type = textField(item, "type").value_or("");
        record.sizeBytes = integerField(item, "size");
        record.removable = flagField(item, "rm").value_or(false);
        record.hotplug = flagField(item, "hotplug").value_or(false);
        record.transport = textField(item, "tran");
        auto mountPoints = item.find("mountpoints");
        if (mountPoints != item.end() && mountPoints->is_array()) {
            for (const auto& m : *mountPoints)
                if (m.is_string() && !m.get_ref<const std::string&>().empty()) record.mountPoints.push_back(m);
        } else if (auto single = textField(item, "mountpoint"); single && !single->empty()) {
            record.mountPoints.push_back(*single);
        }
        out.push_back(std::move(record));
    }
    return out;
}

}  // namespace tessaline
