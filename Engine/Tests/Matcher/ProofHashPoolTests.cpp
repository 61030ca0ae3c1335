// The proof's hashing pool hands over a read only for the file version the proof sees, only
// once, errors included, and reads nothing once stopped.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/ProofHashPool.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

ProofHashPool::Version versionOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

class ProofHashPoolTest : public SandboxedTest {
protected:
    std::atomic<int> opens{0};
    std::atomic<int> failFirst{0};
    ChecksumEngine checksum{64 * 1024, [this](const fs::path& path, int flags) {
                                if (++opens <= failFirst) {
                                    errno = EIO;
                                    return -1;
                                }
                                return ::open(path.c_str(), flags);
                            }};
    const std::function<bool()> never = [] { return false; };
};

TEST_F(ProofHashPoolTest, DigestIsHandedOverOnceForTheVersionRead) {
    const fs::path file = sandbox / "A.MOV";
    writePatternFile(file, 300'000, 1);
    const std::string expected = ChecksumEngine().hash(file);
    ProofHashPool pool(checksum, 2);
    EXPECT_TRUE(pool.prefetch(file, 300'000));
    // Wait for the pool to pick it up (a queued file would be withdrawn instead).
    while (opens == 0) std::this_thread::yield();
    auto taken = pool.take(file, versionOf(file), never);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->digest, expected);
    EXPECT_FALSE(taken->error);
    EXPECT_FALSE(pool.take(file, versionOf(file), never)) << "a second request reads the file itself";
    EXPECT_FALSE(pool.prefetch(file, 300'000));
    EXPECT_FALSE(pool.take(file, versionOf(file), never)) << "a file is hashed once per pool";
    EXPECT_EQ(pool.bytesClaimed(), 300'000) << "the one read counts once";
}

TEST_F(ProofHashPoolTest, ChangedFileOrQueuedFileGivesNothing) {
    const fs::path file = sandbox / "A.MOV";
    writePatternFile(file, 100'000, 1);
    ProofHashPool pool(checksum, 1);
    pool.prefetch(file, 100'000);
    while (opens == 0) std::this_thread::yield();
    ProofHashPool::Version other = versionOf(file);
    std::get<2>(other) += 1;  // the proof saw another size
    EXPECT_FALSE(pool.take(file, other, never));
    EXPECT_EQ(pool.bytesClaimed(), 100'000) << "a hash not taken was read all the same";

    ProofHashPool stopped(checksum, 1);
    stopped.stop();
    const int before = opens;
    stopped.prefetch(sandbox / "A.MOV", 100'000);
    stopped.prefetch(file, 100'000, true);
    EXPECT_FALSE(stopped.take(file, versionOf(file), never));
    EXPECT_EQ(opens, before) << "a stopped pool reads nothing";
}

TEST_F(ProofHashPoolTest, ReadErrorIsHandedOverAsTheAttemptsError) {
    const fs::path file = sandbox / "A.MOV";
    writePatternFile(file, 100'000, 1);
    failFirst = 1;
    ProofHashPool pool(checksum, 1);
    pool.prefetch(file, 100'000);
    while (opens == 0) std::this_thread::yield();
    auto taken = pool.take(file, versionOf(file), never);
    ASSERT_TRUE(taken);
    ASSERT_TRUE(taken->error);
    EXPECT_THROW(std::rethrow_exception(taken->error), std::exception);
    EXPECT_EQ(opens, 1);
}

}  // namespace
