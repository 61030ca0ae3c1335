#include "BrindlecoveApp/ViewModels/EraseGate.hpp"

#include "Tessaline/Support/PathText.hpp"

namespace brindlecove::EraseGate {

namespace fs = std::filesystem;

fs::path standardised(const fs::path& folder) { return tessaline::normalizedPath(folder); }

namespace {

// `file` relative to `root` (both standardised), or nullopt when it does not lie below it.
std::optional<std::string> relativeTo(const fs::path& file, const fs::path& root) {
    const fs::path normal = standardised(file);
    if (!tessaline::isSameOrBelow(normal, root) || normal == root) return std::nullopt;
    return normal.lexically_relative(root).string();
}

}  // namespace

bool vouchesFor(const tessaline::VerificationReport& report, const CardMediaSnapshot& media) {
    if (media.sizes.empty()) return true;
    const fs::path root = standardised(report.cardPath);
    std::map<std::string, int64_t> scanned;
    for (const auto& result : report.results)
        for (const auto& primary : result.group.primaryFiles)
            if (auto relative = relativeTo(primary.url, root)) scanned.emplace(*relative, primary.byteSize);
    for (const auto& [relative, size] : media.sizes) {
        auto found = scanned.find(relative);
        if (found == scanned.end() || found->second != size) return false;
    }
    return true;
}

int selfProvenClips(const tessaline::VerificationReport& report, const fs::path& cardRoot, const OnCardTest& onCard) {
    using Kind = tessaline::MatchStatus::Kind;
    const fs::path root = standardised(cardRoot);
    int count = 0;
    for (const auto& result : report.results) {
        const Kind kind = result.status.kind();
        if (kind != Kind::confirmed && kind != Kind::possibleDuplicate) continue;
        bool provenElsewhere = false;
        for (const auto& location : result.status.locations()) {
            if (tessaline::isSameOrBelow(standardised(location), root)) continue;
            if (onCard && onCard(location)) continue;
            provenElsewhere = true;
            break;
        }
        if (!provenElsewhere) ++count;
    }
    return count;
}

VerificationStanding standing(const Inputs& in) {
    using Kind = VerificationStanding::Kind;
    using Report = tessaline::VerificationReport;
    if (!in.report || !in.card) return {Kind::notVerified, 0};
    const Report& report = *in.report;
    if (standardised(report.cardPath) != standardised(*in.card)) return {Kind::notVerified, 0};
    if (!in.cardMounted) return {Kind::notInserted, 0};
    if (!report.cardVolumeIdentity || !in.identityNow) return {Kind::differentCard, 0};
    if (!report.cardVolumeIdentity->matches(*in.identityNow)) return {Kind::differentCard, 0};

    const Report::EraseStanding verdict = report.eraseStanding();
    VerificationStanding result;
    switch (verdict.kind) {
        case Report::EraseStanding::Kind::safe: result = {Kind::safe, verdict.count}; break;
        case Report::EraseStanding::Kind::hasMissing: result = {Kind::missing, verdict.count}; break;
        case Report::EraseStanding::Kind::hasContentMismatch: result = {Kind::mismatch, verdict.count}; break;
        case Report::EraseStanding::Kind::cardNotFullyRead: result = {Kind::notFullyRead, verdict.count}; break;
        case Report::EraseStanding::Kind::noMedia: return {Kind::notVerified, 0};
    }
    if (const int selfProven = in.selfProven ? in.selfProven() : 0; selfProven > 0) {
        const int alreadyMissing = result.kind == Kind::missing ? result.count : 0;
        result = {Kind::missing, alreadyMissing + selfProven};
    }
    if ((result.kind == Kind::safe || result.kind == Kind::mismatch) && in.media && !vouchesFor(report, *in.media))
        return {Kind::notVerified, 0};
    return result;
}

}  // namespace brindlecove::EraseGate
