// The Ember+ codec stands apart from the unit it is served for: it includes nothing of the
// project's but its own headers, so that it builds, is tested and is fuzzed on its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vantrel {
namespace ember_stands_alone_test {
namespace {

TEST(EmberStandsAloneTest, TheCodecIncludesOnlyItsOwnHeaders) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VANTREL_SOURCE_DIR "/ember")) {
        if (!entry.is_regular_file() || entry.path().extension() == ".txt") continue;
        ++files;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("#include \"", 0) != 0) continue;
            EXPECT_EQ(line.rfind("#include \"ember/", 0), 0u) << entry.path() << ": " << line;
        }
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace ember_stands_alone_test
}  // namespace vantrel
