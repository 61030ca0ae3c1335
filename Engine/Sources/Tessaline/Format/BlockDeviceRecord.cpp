#include "Tessaline/Format/BlockDeviceRecord.hpp"

#include "Tessaline/Format/JsonField.hpp"

#include <nlohmann/json.hpp>

namespace tessaline {

namespace {

void collect(const nlohmann::json& list, std::vector<BlockDeviceRecord>& out) {
    if (!list.is_array()) return;
    for (const auto& item : list) {
        if (!item.is_object()) continue;
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
        if (auto children = item.find("children"); children != item.end()) collect(*children, out);
    }
}

}  // namespace

std::optional<std::vector<BlockDeviceRecord>> BlockDeviceRecord::fromLsblkJson(std::string_view json) {
    nlohmann::json root = nlohmann::json::parse(json, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;
    auto list = root.find("blockdevices");
    if (list == root.end() || !list->is_array()) return std::nullopt;
    std::vector<BlockDeviceRecord> out;
    collect(*list, out);
    return out;
}

}  // namespace tessaline
