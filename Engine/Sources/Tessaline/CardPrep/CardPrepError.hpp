#pragma once
// Why a card was not erased. what() is the sentence shown to the user.

#include <filesystem>
#include <stdexcept>

namespace tessaline {

class CardPrepError : public std::runtime_error {
public:
    enum class Kind {
        refusedDangerousRoot,  // not the root of an external volume: nothing was touched
        cannotList,            // the card's top level could not be read: nothing was touched
        cardChanged,           // another volume (or another mount) is at the path now: nothing was touched
    };

    CardPrepError(Kind kind, std::filesystem::path cardRoot);

    Kind kind() const { return kind_; }
    const std::filesystem::path& cardRoot() const { return cardRoot_; }

private:
    Kind kind_;
    std::filesystem::path cardRoot_;
};

}  // namespace tessaline
