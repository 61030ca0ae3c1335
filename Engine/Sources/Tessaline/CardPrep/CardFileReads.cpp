#include "Tessaline/CardPrep/CardFileReads.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Support/PathText.hpp"

namespace tessaline {

CardFileReads::CardFileReads(const std::filesystem::path& card) {
    prefix_ = withoutTrailingSlash(card.native());
    if (prefix_ != "/") prefix_ += "/";
}

ChecksumEngine::ReadObserver CardFileReads::observer() {
    return [prefix = prefix_, state = state_](const ChecksumEngine::Read& read) {
        const std::string& path = read.file.native();
        if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return;
        Read entry{CardFileSet::recordOf({}, read.opened)};
        entry.opened.digest = read.digest;
        entry.steady = CardFileSet::sameFile(entry.opened, CardFileSet::recordOf({}, read.closed), true) &&
                       read.opened.st_dev == read.closed.st_dev;
        const std::lock_guard lock(state->lock);
        state->reads[path.substr(prefix.size())].push_back(std::move(entry));
    };
}

std::vector<std::string> CardFileReads::applyTo(std::vector<CardFileRecord>& records,
                                                CardFileComparison::Numbering numbering) const {
    using Numbering = CardFileComparison::Numbering;
    std::vector<std::string> contradicted;
    const std::lock_guard lock(state_->lock);
    for (CardFileRecord& record : records) {
        auto found = state_->reads.find(record.relative);
        if (found == state_->reads.end()) continue;
        bool agrees = true;
        for (const Read& read : found->second) {
            const bool sameNumber = numbering != Numbering::identity || read.opened.inode == record.inode;
            agrees = agrees && read.steady && sameNumber && CardFileSet::sameFile(read.opened, record, false) &&
                     read.opened.digest == found->second.front().opened.digest;
        }
        if (!agrees) {
            contradicted.push_back(record.relative);
            continue;
        }
        record.inode = found->second.back().opened.inode;
        record.digest = found->second.back().opened.digest;
    }
    return contradicted;
}

}  // namespace tessaline
