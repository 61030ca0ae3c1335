#pragma once
// What the proofs of one scan share when given to each of them (MatchVerifier::verify of the
// claims, then verifyOtherFiles): the bytes of the card files they set out to prove and the
// bytes they read, so together they read at most four times the former, and the copy roots
// found (CopyLeads), where the later proofs look first. Plain value.

#include <cstdint>
#include <string>
#include <vector>

namespace tessaline {

struct ProofTally {
    int64_t cardBytes = 0;
    int64_t bytesRead = 0;
    std::vector<std::string> copyRoots;
};

}  // namespace tessaline
