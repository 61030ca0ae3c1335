#include "Tessaline/CardPrep/CardPrepError.hpp"

#include "Tessaline/Support/PathText.hpp"

namespace tessaline {

namespace {

std::string sentence(CardPrepError::Kind kind, const std::filesystem::path& cardRoot) {
    std::string path = toDisplayUtf8(cardRoot);
    switch (kind) {
        case CardPrepError::Kind::refusedDangerousRoot:
            return "Refusing to erase " + path + " \u2014 that's a system location, not a camera card.";
        case CardPrepError::Kind::cannotList: return "Couldn't read the card at " + path + ".";
        case CardPrepError::Kind::cardChanged:
            return "The card at " + path + " is no longer the one that was checked \u2014 nothing was erased. Choose it again.";
    }
    return path;
}

}  // namespace

CardPrepError::CardPrepError(Kind kind, std::filesystem::path cardRoot)
    : std::runtime_error(sentence(kind, cardRoot)), kind_(kind), cardRoot_(std::move(cardRoot)) {}

}  // namespace tessaline
