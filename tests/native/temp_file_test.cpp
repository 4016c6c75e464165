// Runs side by side (two builds' tests at once) each have their own temporary files: another
// run's file of the same name, made and removed, leaves this run's as it was.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/temp_file.h"

extern char** environ;

namespace vantrel {
namespace temp_file_test {
namespace {

constexpr const char* kName = "side-by-side";

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TempFileTest, HoldsItsBytesUntilItGoes) {
    std::string path;
    {
        const testing::TempFile file(kName, "its bytes");
        path = file.Path();
        EXPECT_EQ(Read(path), "its bytes");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TempFileTest, AnotherRunsFileOfTheSameNameLeavesThisRunsAlone) {
    const testing::TempFile mine(kName, "this run's");
    // The other run: this program, running the test above in a process of its own.
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=TempFileTest.HoldsItsBytesUntilItGoes";
    char* argv[] = {self.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &quiet, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(Read(mine.Path()), "this run's");
}

}  // namespace
}  // namespace temp_file_test
}  // namespace vantrel
