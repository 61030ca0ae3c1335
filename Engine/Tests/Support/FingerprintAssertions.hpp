#pragma once
// Field-by-field comparison of two fingerprints (Fingerprint has no equality on purpose).

#include "Tessaline/Fingerprint.hpp"

namespace tessaline::testing {

// Adds a non-fatal failure for every field that differs.
void expectSameFingerprint(const Fingerprint& actual, const Fingerprint& expected);

}  // namespace tessaline::testing
