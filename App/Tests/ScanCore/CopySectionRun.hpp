#pragma once
// The Copy section's run of a card into a folder, through its view model, to its end, for
// end-to-end tests: a short settle wait, no filing into the log archive. Needs the test's
// event loop (main thread).

#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <filesystem>
#include <functional>
#include <memory>

namespace brindlecove::testing {

struct CopySectionRun {
    std::shared_ptr<const tessaline::TransferLog> log;  // null (with a test failure) when none came
    TransferTexts::Verdict verdict;                      // what the Copy section says of it
};

// `onEvent` sees the engine's events on the copying thread before the view model does.
CopySectionRun copyThroughCopySection(const std::filesystem::path& card, const std::filesystem::path& destination,
                                      std::function<void(const tessaline::CopyEngine::Event&)> onEvent = {});

}  // namespace brindlecove::testing
