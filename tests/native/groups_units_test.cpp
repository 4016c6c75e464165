// The units file, its safe write and the selectors over its units.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "groups/selector.h"
#include "groups/units_file.h"
#include "tests/support/failing_files.h"
#include "tests/support/temp_file.h"

namespace vantrel::groups {
namespace groups_units_test {
namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* const kLabelled =
    "# rack A\n"
    "127.0.0.2 name=qc-1 site=studio-a role=qc  # left\n"
    "\n"
    "127.0.0.3 site=studio-a role=spare\n"
    "/dev/ttyUSB0 name=bench\n";

TEST(UnitsFileTest, ReadsLabelsKeepsCommentsAndWritesTheSameBack) {
    const auto parsed = ParseUnitsFile(kLabelled);
    ASSERT_TRUE(parsed.Ok());
    const std::vector<UnitEntry> units = parsed.Value().Units();
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].name, "qc-1");
    EXPECT_EQ(*units[0].Label("role"), "qc");
    EXPECT_EQ(units[1].Label("name"), nullptr);
    EXPECT_TRUE(units[2].Serial());
    EXPECT_EQ(FormatUnitsFile(parsed.Value()), kLabelled);

    // The plain form of old files reads as before: a unit a line, comments anywhere.
    const auto plain = ParseUnitsFile("127.0.0.4\r\n  127.0.0.5\t# five\n#127.0.0.6\n");
    ASSERT_TRUE(plain.Ok());
    ASSERT_EQ(plain.Value().Units().size(), 2u);
    EXPECT_EQ(plain.Value().Units()[1].unit, "127.0.0.5");
    EXPECT_TRUE(plain.Value().Units()[1].labels.empty());
}

TEST(UnitsFileTest, AMalformedLineIsNamedWithItsText) {
    struct Case {
        const char* text;
        UnitsFileFault fault;
        int line;
        const char* at;
    };
    const Case cases[] = {
        {"127.0.0.2\n10.0.0\n", UnitsFileFault::kNotAUnit, 2, "10.0.0"},
        {" 127.0.0.2 site  # a\n", UnitsFileFault::kBadLabel, 1, "127.0.0.2 site"},
        {"127.0.0.2 site=a site=b\n", UnitsFileFault::kBadLabel, 1, "127.0.0.2 site=a site=b"},
        {"127.0.0.2 role=q,c\n", UnitsFileFault::kBadLabel, 1, "127.0.0.2 role=q,c"},
        {"127.0.0.2 =x\n", UnitsFileFault::kBadLabel, 1, "127.0.0.2 =x"},
        {"127.0.0.2 name=a\n127.0.0.3 name=a\n", UnitsFileFault::kNamedTwice, 2,
         "127.0.0.3 name=a"},
        {"127.0.0.2\n#\n127.0.0.2\n", UnitsFileFault::kNamedTwice, 3, "127.0.0.2"},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseUnitsFile(c.text);
        ASSERT_FALSE(parsed.Ok()) << c.text;
        EXPECT_EQ(parsed.GetError().fault, c.fault) << c.text;
        EXPECT_EQ(parsed.GetError().line, c.line) << c.text;
        EXPECT_EQ(parsed.GetError().text, c.at) << c.text;
    }
    EXPECT_EQ(ReadUnitsFile("/nonexistent/units").GetError().fault, UnitsFileFault::kCannotRead);
}

using testing::FailingFiles;

TEST(UnitsFileTest, AWriteThatFailsAtAnyStepLeavesAWholeFile) {
    const testing::TempFile file("groups-units", "127.0.0.2 role=old\n");
    auto parsed = ParseUnitsFile(Contents(file.Path()));
    ASSERT_TRUE(parsed.Ok());
    UnitsFile changed = parsed.Value();
    changed.lines[0].entry->labels[0].second = "new";
    const std::string before = Contents(file.Path());
    const std::string after = FormatUnitsFile(changed);

    for (const WriteStep step : {WriteStep::kCreate, WriteStep::kWrite, WriteStep::kSync,
                                 WriteStep::kClose, WriteStep::kRename}) {
        FailingFiles calls(step);
        EXPECT_EQ(WriteUnitsFile(file.Path(), changed, calls), step);
        EXPECT_EQ(Contents(file.Path()), before) << WriteStepText(step);
        EXPECT_FALSE(std::filesystem::exists(file.Path() + ".new")) << WriteStepText(step);
    }
    // Past the rename the new file is whole, though the folder's flush failed.
    FailingFiles folderFails(WriteStep::kSyncFolder);
    EXPECT_EQ(WriteUnitsFile(file.Path(), changed, folderFails), WriteStep::kSyncFolder);
    EXPECT_EQ(Contents(file.Path()), after);

    SystemFiles system;
    const std::string folder = file.Path() + "-missing/units";
    EXPECT_EQ(WriteUnitsFile(folder, changed, system), WriteStep::kCreate);
}

std::vector<UnitEntry> Rack(std::size_t count) {
    std::vector<UnitEntry> units;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string role = i == 0 ? "spare" : "qc";
        units.push_back({"127.0.1." + std::to_string(i + 1),
                         "u" + std::to_string(i),
                         {{"site", i < 3 ? "studio-a" : "studio-b"}, {"role", role}}});
    }
    return units;
}

std::vector<std::size_t> Picks(const std::string& text, const std::vector<UnitEntry>& units) {
    const auto selector = ParseSelector(text);
    EXPECT_TRUE(selector.Ok()) << text;
    const auto picked = Select(selector.Value(), units);
    EXPECT_TRUE(picked.Ok()) << text;
    return picked.Ok() ? picked.Value() : std::vector<std::size_t>{};
}

TEST(SelectorTest, PicksByUnitNameAndLabels) {
    const std::vector<UnitEntry> units = Rack(5);
    using V = std::vector<std::size_t>;
    EXPECT_EQ(Picks("all", units), (V{0, 1, 2, 3, 4}));
    EXPECT_EQ(Picks("127.0.1.2", units), (V{1}));
    EXPECT_EQ(Picks("u4,127.0.1.1", units), (V{0, 4}));
    EXPECT_EQ(Picks("site=studio-a,role=qc", units), (V{1, 2}));
    EXPECT_EQ(Picks("role!=spare", units), (V{1, 2, 3, 4}));
    EXPECT_EQ(Picks("name=u3", units), (V{3}));
    EXPECT_EQ(Picks("floor!=2", units), (V{0, 1, 2, 3, 4}));

    for (const auto& [text, fault] :
         {std::pair{"", SelectorFault::kEmpty}, std::pair{"u1,,u2", SelectorFault::kEmpty},
          std::pair{"site=", SelectorFault::kBadTerm}, std::pair{"!=qc", SelectorFault::kBadTerm},
          std::pair{"u1,role=qc", SelectorFault::kMixed}}) {
        const auto parsed = ParseSelector(text);
        ASSERT_FALSE(parsed.Ok()) << text;
        EXPECT_EQ(parsed.GetError().fault, fault) << text;
    }
}

TEST(SelectorTest, NoMatchAnUnknownUnitAndALargeGroupAreRefused) {
    const std::vector<UnitEntry> units = Rack(70);
    auto select = [&](const std::string& text, SelectLimits limits = {}) {
        return Select(ParseSelector(text).Value(), units, limits);
    };
    EXPECT_EQ(select("site=studio-c").GetError().fault, SelectFault::kNoMatch);
    EXPECT_EQ(select("u1,u99").GetError().fault, SelectFault::kUnknownUnit);
    EXPECT_EQ(select("u1,u99").GetError().text, "u99");

    const auto unconfirmed = select("role=qc");
    ASSERT_FALSE(unconfirmed.Ok());
    EXPECT_EQ(unconfirmed.GetError().fault, SelectFault::kNeedsConfirm);
    EXPECT_EQ(unconfirmed.GetError().matched, 69u);
    EXPECT_EQ(select("role=qc", {64, 68}).GetError().fault, SelectFault::kConfirmDiffers);
    EXPECT_EQ(select("role=qc", {64, 69}).Value().size(), 69u);
    EXPECT_EQ(select("site=studio-a", {64, 2}).GetError().fault, SelectFault::kConfirmDiffers);
    EXPECT_EQ(select("site=studio-a", {2, std::nullopt}).GetError().fault,
              SelectFault::kNeedsConfirm);
}

}  // namespace
}  // namespace groups_units_test
}  // namespace vantrel::groups
