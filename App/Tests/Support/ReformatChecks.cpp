#include "Support/ReformatChecks.hpp"

#include "Support/TestSandbox.hpp"

namespace brindlecove::testing {

using tessaline::testing::runCommand;

namespace {

std::string withoutTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string blkidTag(const std::string& device, const std::string& tag) {
    return withoutTrailingBlanks(runCommand({"blkid", "-p", "-s", tag, "-o", "value", device}).output);
}

std::vector<std::string> mountPointsOf(const std::string& device) {
    std::vector<std::string> targets;
    const std::string all = runCommand({"findmnt", "-n", "-r", "-o", "TARGET", "--source", device}).output;
    size_t start = 0;
    for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
        if (end > start) targets.push_back(all.substr(start, end - start));
    return targets;
}

bool isMountPoint(const std::filesystem::path& path) {
    return runCommand({"mountpoint", "-q", path.string()}).exitCode == 0;
}

std::string phaseText(const DriveFormatViewModel& vm) {
    using VM = DriveFormatViewModel;
    if (auto* r = std::get_if<VM::Refused>(&vm.phase())) return "refused: " + r->message.toStdString();
    if (auto* f = std::get_if<VM::Failed>(&vm.phase())) return "failed: " + f->message.toStdString();
    if (auto* d = std::get_if<VM::Done>(&vm.phase())) return "done: " + d->message.toStdString();
    return "phase " + std::to_string(vm.phase().index());
}

}  // namespace brindlecove::testing
