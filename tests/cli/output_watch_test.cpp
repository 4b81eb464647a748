// The watcher that gives stored entries their progress: it follows the
// output file's size as another writer makes it grow, and stops at once.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "cli_harness.h"
#include "output_watch.h"
#include "progress.h"

namespace {

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST(OutputWatch, FollowsTheOutputAsItGrows) {
    qzt::TempDir dir;
    const std::string path = (dir.path() / "growing").string();
    qzcli::ProgressLine progress(false);  // the text is kept, nothing drawn
    progress.Begin(1, 4000);
    progress.StartEntry(1, "growing", 4000, 4000);
    {
        qzcli::OutputWatch watch(progress, path, true);
        std::ofstream out(path, std::ios::binary);
        out << std::string(1000, 'x') << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_TRUE(Contains(progress.Text(), " 25%")) << progress.Text();
        out << std::string(2000, 'x') << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
    EXPECT_TRUE(Contains(progress.Text(), " 75%")) << progress.Text();

    // Stopping does not wait for the next look.
    const auto start = std::chrono::steady_clock::now();
    { qzcli::OutputWatch idle(progress, path, true); }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

}  // namespace
