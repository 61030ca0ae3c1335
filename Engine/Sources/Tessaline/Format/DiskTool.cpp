#include "Tessaline/Format/DiskTool.hpp"

#include "Tessaline/Format/DriveFormatError.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

namespace tessaline {

ToolRun DiskTool::run(const std::filesystem::path& program, const std::vector<std::string>& arguments) const {
    ToolRun result = runner(program, arguments);
    if (result.launchError != 0)
        throw DriveFormatError::diskutilFailed("Couldn't run " + lastComponent(program) + ": " +
                                               errnoText(result.launchError));
    return result;
}

std::string DiskTool::output(const std::filesystem::path& program, const std::vector<std::string>& arguments) const {
    ToolRun result = run(program, arguments);
    if (!result.succeeded()) throw DriveFormatError::diskutilFailed(failureText(result));
    return result.standardOutput;
}

std::string DiskTool::failureText(const ToolRun& run) {
    const std::string& raw = run.standardError.empty() ? run.standardOutput : run.standardError;
    if (isValidUtf8(raw)) {
        std::string text = trimmedWhitespace(raw);
        if (!text.empty()) return text;
    }
    std::string tool = lastComponent(run.program);
    if (run.signal != 0) return tool + " failed (signal " + std::to_string(run.signal) + ").";
    return tool + " failed (status " + std::to_string(run.exitStatus) + ").";
}

}  // namespace tessaline
