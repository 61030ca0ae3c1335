#pragma once
// The two kinds of archived log: a card scan ("verify") and a copy run ("transfer").

#include <optional>
#include <string_view>

namespace tessaline {

enum class LogKind { verify, transfer };

// The raw value used in folder names and "meta.json".
std::string_view logKindText(LogKind kind);
// nullopt for any text other than the two raw values.
std::optional<LogKind> logKindFromText(std::string_view text);

}  // namespace tessaline
