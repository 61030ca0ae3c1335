#include "Tessaline/Format/MountRecord.hpp"

#include "Tessaline/Format/JsonField.hpp"

#include <nlohmann/json.hpp>

namespace tessaline {

namespace {

void collect(const nlohmann::json& list, std::vector<MountRecord>& out) {
    if (!list.is_array()) return;
    for (const auto& item : list) {
        if (!item.is_object()) continue;
        MountRecord record;
        record.source = textField(item, "source").value_or("");
        record.target = textField(item, "target").value_or("");
        record.fsType = textField(item, "fstype").value_or("");
        record.label = textField(item, "label");
        record.uuid = textField(item, "uuid");
        record.majorMinor = textField(item, "maj:min").value_or("");
        record.fsRoot = textField(item, "fsroot");
        out.push_back(std::move(record));
        if (auto children = item.find("children"); children != item.end()) collect(*children, out);
    }
}

}  // namespace

std::optional<std::vector<MountRecord>> MountRecord::fromFindmntJson(std::string_view json) {
    nlohmann::json root = nlohmann::json::parse(json, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;
    auto list = root.find("filesystems");
    if (list == root.end() || !list->is_array()) return std::nullopt;
    std::vector<MountRecord> out;
    collect(*list, out);
    return out;
}

}  // namespace tessaline
