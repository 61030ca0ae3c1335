#include "BrindlecoveApp/ViewModels/CardPrepBackend.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"

#include <sys/stat.h>

#include <memory>
#include <system_error>

namespace brindlecove {

namespace fs = std::filesystem;

namespace {

// The files the erase would delete, when every folder could be read.
std::optional<tessaline::CardFileSet> completeCardFiles(const fs::path& card) {
    try {
        tessaline::CardFileSet set = tessaline::CardFileSet::read(card);
        if (!set.isComplete()) return std::nullopt;
        return set;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

CardPrepBackend CardPrepBackend::standard() {
    CardPrepBackend backend;
    backend.validate = [](const Path& card) { return Engine::check(card); };
    backend.readIdentity = [](const Path& card) { return tessaline::VolumeIdentity::read(card); };
    backend.isMounted = [](const Path& card) { return tessaline::isMountPoint(card); };
    backend.computePreview = [](const Path& card) { return countContents(card); };
    backend.prepare = [](const Path& card, const Engine::CardFacts& facts, const tessaline::CameraFormatProfile& profile,
                         const std::function<bool()>& isCancelled,
                         const std::function<void(const Engine::Event&)>& onEvent,
                         const std::optional<CardFiles>& vouched) {
        return Engine::prepare(card, facts, profile, isCancelled, onEvent, vouched);
    };
    backend.walkCardFiles = [](const Path& card) { return completeCardFiles(card); };
    backend.deviceOf = [](const Path& path) -> std::optional<dev_t> {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return std::nullopt;
        return st.st_dev;
    };
    backend.viewTestOf = [](dev_t device) -> std::function<bool(const Path&)> {
        // Judged once per drive device; the test may be copied, so the judgements are shared.
        auto ground = std::make_shared<tessaline::ProofGround>();
        return [ground, device](const Path& path) { return ground->doubtOf(path, device).has_value(); };
    };
    return backend;
}

CardContents CardPrepBackend::countContents(const Path& card) {
    CardContents contents;
    std::error_code ec;
    for (fs::directory_iterator it(card, ec), end; !ec && it != end; it.increment(ec)) ++contents.itemCount;
    if (ec) contents.itemCount = 0;
    try {
        tessaline::CardFileSet set = tessaline::CardFileSet::read(card);
        contents.fileCount = set.erasedFileCount;
        contents.totalBytes = set.erasedBytes;
        if (set.isComplete()) {
            contents.files = std::move(set.files);
            contents.filesMount = set.mount;
        }
    } catch (const std::exception&) {
        // Nothing readable: zeros, and nothing known of the files.
    }
    return contents;
}

void CardPrepBackend::checkRenumbered(const Path& card, CardFiles& files,
                                      const std::optional<tessaline::CardFileMount>& filesMount,
                                      const tessaline::VerificationReport& report,
                                      const std::function<bool()>& isCancelled,
                                      const std::function<void(int, int)>& progress) {
    const std::vector<std::string> renumbered = EraseGate::renumberedSinceScan(report, files, filesMount);
    if (renumbered.empty()) return;
    tessaline::CardFileComparison::readAgain(card, files, renumbered, isCancelled, progress);
}

}  // namespace brindlecove
