#include "Tessaline/Format/MountRecord.hpp"

#include "Tessaline/Format/JsonField.hpp"

#include <nlohmann/json.hpp>

namespace tessaline {

std::optional<std::vector<MountRecord>> MountRecord::fromFindmntJson(std::string_view json) {
    auto items = treeItems(json, "filesystems");
    if (!items) return std::nullopt;
    std::vector<MountRecord> out;
    for (const auto& item : *items) {
        MountRecord record;
        record.source = textField(item, "source").value_or("");
        record.target = textField(item, "target").value_or("");
        record.fsType = textField(item, "fstype").value_or("");
        record.label = textField(item, "label");
        record.uuid = textField(item, "uuid");
        record.majorMinor = textField(item, "maj:min").value_or("");
        record.fsRoot = textField(item, "fsroot");
        out.push_back(std::move(record));
    }
    return out;
}

}  // namespace tessaline
