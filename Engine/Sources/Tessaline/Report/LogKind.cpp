#include "Tessaline/Report/LogKind.hpp"

namespace tessaline {

std::string_view logKindText(LogKind kind) { return kind == LogKind::verify ? "verify" : "transfer"; }

std::optional<LogKind> logKindFromText(std::string_view text) {
    if (text == "verify") return LogKind::verify;
    if (text == "transfer") return LogKind::transfer;
    return std::nullopt;
}

}  // namespace tessaline
