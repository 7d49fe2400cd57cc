// The work-file remover: what it deletes, when, and what it reports as still waiting. The filer
// relies on pending() to drain before it writes a message file whose number an earlier message of
// the same download had (its old work files may still wait under the same names).
#include "mail/engine/DeferredRemover.h"

#include "support/TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orvalink::mail {

namespace {

TEST(DeferredRemover, DeletesInBatchesOnDrainAndOnDestruction)
{
    struct Case {
        const char* name;
        std::size_t files;
        enum class End { Drain, Destroy, None } end;
        bool goneAtEnd;
    };
    const std::vector<Case> cases = {
        {"fewer than a batch wait for drain", DeferredRemover::kBatch - 1, Case::End::None, false},
        {"drain deletes them", DeferredRemover::kBatch - 1, Case::End::Drain, true},
        {"destruction deletes them", 3, Case::End::Destroy, true},
        {"drain with nothing queued", 0, Case::End::Drain, true},
    };
    for (const Case& c : cases) {
        test::TempDir dir("orvalink-remover");
        std::vector<std::string> paths;
        for (std::size_t k = 0; k < c.files; ++k) {
            paths.push_back(dir.path() + "/w" + std::to_string(k));
            test::writeFile(paths.back(), "x");
        }
        const auto anyLeft = [&] {
            for (const std::string& p : paths)
                if (std::filesystem::exists(p))
                    return true;
            return false;
        };
        {
            DeferredRemover remover;
            for (const std::string& p : paths)
                remover.remove(p);
            if (c.end == Case::End::Drain)
                remover.drain();
            if (c.goneAtEnd && c.end == Case::End::None) {
                EXPECT_TRUE(test::waitUntil([&] { return !anyLeft() && !remover.pending(dir.path() + "/w"); }, 5000, 5))
                    << c.name;
            }
            if (!c.goneAtEnd) {
                EXPECT_TRUE(anyLeft()) << c.name;
                EXPECT_TRUE(remover.pending(dir.path() + "/w")) << c.name;
                remover.drain();
            }
            if (c.end != Case::End::Destroy) {
                EXPECT_FALSE(remover.pending(dir.path() + "/w")) << c.name;
            }
        }
        EXPECT_FALSE(anyLeft()) << c.name;
    }
}

// Files wait until a batch is full; the file that fills it sends them all, without a drain.
TEST(DeferredRemover, TheFileThatFillsABatchSendsItWithoutDrain)
{
    test::TempDir dir("orvalink-remover");
    DeferredRemover remover;
    std::vector<std::string> paths;
    const auto left = [&] {
        std::size_t n = 0;
        for (const std::string& p : paths)
            n += std::filesystem::exists(p) ? 1 : 0;
        return n;
    };
    for (std::size_t k = 0; k < DeferredRemover::kBatch; ++k) {
        paths.push_back(dir.path() + "/w" + std::to_string(k));
        test::writeFile(paths.back(), "x");
    }
    for (std::size_t k = 0; k + 1 < DeferredRemover::kBatch; ++k)
        remover.remove(paths[k]);
    EXPECT_FALSE(test::waitUntil([&] { return left() < paths.size(); }, 100, 5));
    remover.remove(paths.back());
    EXPECT_TRUE(test::waitUntil([&] { return left() == 0; }, 5000, 5)) << left() << " left";
}

// A queued name reports as pending by any prefix of it, and by no other; once drained, a file
// written again under the name stays.
TEST(DeferredRemover, PendingMatchesQueuedNamesByPrefix)
{
    test::TempDir dir("orvalink-remover");
    const std::string qel = dir.path() + "/F1.qel";
    DeferredRemover remover;
    remover.remove(qel + "tab");
    remover.remove(qel);
    struct Case {
        std::string prefix;
        bool pending;
    };
    const Case cases[] = {
        {qel, true},          {qel + "tab", true}, {dir.path() + "/F1", true}, {dir.path() + "/F10.qel", false},
        {qel + "cnv", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(remover.pending(c.prefix), c.pending) << c.prefix;
    remover.drain();
    test::writeFile(qel, "the next message of number 1");
    remover.drain();
    EXPECT_TRUE(std::filesystem::exists(qel));
    EXPECT_FALSE(remover.pending(qel));
}

} // namespace

} // namespace orvalink::mail
