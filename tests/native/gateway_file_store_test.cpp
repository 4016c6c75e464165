// The file store: what the gateway keeps across restarts, each file written so that a save cut
// short at any step leaves the old one readable, and a stored file that is not as written is an
// error that names it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "gateway/state/file_store.h"
#include "tests/support/failing_files.h"
#include "tests/support/state_folder.h"

namespace vantrel::gateway {
namespace gateway_file_store_test {
namespace {

namespace fs = std::filesystem;
using groups::WriteStep;
using testing::StateFolder;

FileStore Store(const StateFolder& folder, groups::FileCalls& calls) {
    return {folder.Path("units"), folder.Path(), calls};
}

groups::Snapshot Morning(const std::string& name) {
    groups::UnitSettings settings;
    settings.values[groups::Setting::kVolume] = 12;
    return {name, "2026-12-09T08:00:00.000Z", "ops", {{"127.0.0.2", "desk-1", settings}}};
}

TEST(GatewayFileStoreTest, ASaveCutShortAtAnyStepLeavesTheOldStateReadable) {
    const StateFolder folder("127.0.0.2 name=desk-1  # the desk\n");
    groups::SystemFiles system;
    FileStore store = Store(folder, system);
    ASSERT_FALSE(store.SaveSnapshot(Morning("morning")));
    ASSERT_FALSE(store.SaveAssignments({{"127.0.0.2", "morning"}}));
    auto units = store.LoadUnits();
    ASSERT_TRUE(units.Ok());
    groups::UnitsFile changed = units.Value();
    changed.lines[0].entry->name = "desk-2";
    groups::Snapshot evening = Morning("morning");
    evening.takenBy = "night";

    for (const WriteStep step : {WriteStep::kCreate, WriteStep::kWrite, WriteStep::kSync,
                                 WriteStep::kClose, WriteStep::kRename}) {
        SCOPED_TRACE(groups::WriteStepText(step));
        testing::FailingFiles calls(step);
        FileStore failing = Store(folder, calls);
        const auto error = failing.SaveUnits(changed);
        ASSERT_TRUE(error);
        EXPECT_NE(error->text.find(folder.Path("units")), std::string::npos) << error->text;
        EXPECT_TRUE(failing.SaveSnapshot(evening));
        EXPECT_TRUE(failing.SaveAssignments({{"127.0.0.2", "evening"}}));

        EXPECT_EQ(store.LoadUnits().Value().Units()[0].name, "desk-1");
        EXPECT_EQ(store.LoadSnapshots().Value().at(0).takenBy, "ops");
        EXPECT_EQ(store.LoadAssignments().Value(), (Assignments{{"127.0.0.2", "morning"}}));
    }
    // Past the rename the new file is the one a reader finds, though the folder's flush failed:
    // the change is made, and not reported as failed.
    testing::FailingFiles folderFails(WriteStep::kSyncFolder);
    EXPECT_FALSE(Store(folder, folderFails).SaveUnits(changed));
    EXPECT_EQ(store.LoadUnits().Value().Units()[0].name, "desk-2");
}

TEST(GatewayFileStoreTest, UnitsSnapshotsAndAssignmentsComeBackAsSaved) {
    const StateFolder folder("# the rack\n127.0.0.2 site=a  # desk\n");
    groups::SystemFiles system;
    FileStore store = Store(folder, system);
    EXPECT_TRUE(store.LoadSnapshots().Value().empty());
    EXPECT_TRUE(store.LoadAssignments().Value().empty());

    groups::UnitsFile units = store.LoadUnits().Value();
    units.lines.push_back({groups::UnitEntry{"/dev/ttyUSB0", "bench", {{"role", "qc"}}}, ""});
    ASSERT_FALSE(store.SaveUnits(units));
    EXPECT_EQ(folder.Read("units"),
              "# the rack\n127.0.0.2 site=a  # desk\n/dev/ttyUSB0 name=bench role=qc\n");

    ASSERT_FALSE(store.SaveSnapshot(Morning("night")));
    ASSERT_FALSE(store.SaveSnapshot(Morning("morning")));
    groups::Snapshot replaced = Morning("morning");
    replaced.takenBy = "admin";
    ASSERT_FALSE(store.SaveSnapshot(replaced));
    auto snapshots = store.LoadSnapshots();
    ASSERT_TRUE(snapshots.Ok());
    ASSERT_EQ(snapshots.Value().size(), 2u);
    EXPECT_EQ(snapshots.Value()[0].name, "morning");
    EXPECT_EQ(snapshots.Value()[0].takenBy, "admin");
    EXPECT_EQ(snapshots.Value()[0].units[0].settings.values.at(groups::Setting::kVolume), 12);
    EXPECT_EQ(snapshots.Value()[1].name, "night");
    EXPECT_TRUE(fs::exists(folder.Path("snapshots/night.json")));
    EXPECT_FALSE(store.DeleteSnapshot("night"));
    EXPECT_TRUE(store.DeleteSnapshot("night"));
    EXPECT_EQ(store.LoadSnapshots().Value().size(), 1u);
    // A name is a file's: no other folder is written.
    EXPECT_TRUE(store.SaveSnapshot(Morning("../units")));
    EXPECT_TRUE(store.DeleteSnapshot("../units"));

    const Assignments held{{"127.0.0.2", "morning"}, {"ttyUSB0", "night"}};
    ASSERT_FALSE(store.SaveAssignments(held));
    EXPECT_EQ(store.LoadAssignments().Value(), held);
}

TEST(GatewayFileStoreTest, AStoredFileThatIsNotAsWrittenIsAnErrorNamingIt) {
    const StateFolder folder("127.0.0.2\n127.0.0 site=a\n");
    groups::SystemFiles system;
    FileStore store = Store(folder, system);
    const auto units = store.LoadUnits();
    ASSERT_FALSE(units.Ok());
    EXPECT_NE(units.GetError().text.find(folder.Path("units") + " line 2"), std::string::npos)
        << units.GetError().text;

    folder.Put("snapshots/morning.json", "{\"format\": ");
    const auto torn = store.LoadSnapshots();
    ASSERT_FALSE(torn.Ok());
    EXPECT_NE(torn.GetError().text.find("morning.json"), std::string::npos);
    // A file renamed by hand holds another snapshot than its name says.
    fs::remove(folder.Path("snapshots/morning.json"));
    ASSERT_FALSE(store.SaveSnapshot(Morning("night")));
    fs::rename(folder.Path("snapshots/night.json"), folder.Path("snapshots/morning.json"));
    EXPECT_FALSE(store.LoadSnapshots().Ok());
    // What a crash left beside a file is not read.
    fs::remove(folder.Path("snapshots/morning.json"));
    folder.Put("snapshots/evening.json.new", "{");
    EXPECT_TRUE(store.LoadSnapshots().Ok());

    for (const char* assignments : {"[]", "{\"127.0.0.2\": 3}", "{"}) {
        folder.Put("assignments.json", assignments);
        const auto read = store.LoadAssignments();
        ASSERT_FALSE(read.Ok()) << assignments;
        EXPECT_NE(read.GetError().text.find("assignments.json"), std::string::npos);
    }
}

}  // namespace
}  // namespace gateway_file_store_test
}  // namespace vantrel::gateway
