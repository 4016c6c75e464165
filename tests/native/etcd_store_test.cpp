#include <gtest/gtest.h>

#include "gateway/cluster/etcd_store.h"
#include "groups/units_file.h"
#include "tests/support/etcd_server.h"

namespace vantrel::gateway::cluster {
namespace etcd_store_test {
namespace {

using std::chrono::milliseconds;

class EtcdStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(etcd.Running()) << etcd.Error(); }

    static groups::Snapshot Taken(const std::string& name, std::int32_t volume) {
        groups::UnitSnapshot unit{"127.0.0.2", "desk", {}};
        unit.settings.values[groups::Setting::kVolume] = volume;
        return {name, "2026-12-09T20:00:00Z", "admin", {unit}};
    }

    testing::EtcdServer etcd;
    EtcdClient client{{etcd.Place()}, milliseconds(2000)};
    EtcdStore store{client, kDefaultEtcdPrefix};
};

TEST_F(EtcdStoreTest, AnEmptyStoreHoldsNothing) {
    EXPECT_TRUE(store.LoadUnits().Value().Units().empty());
    EXPECT_TRUE(store.LoadSnapshots().Value().empty());
    EXPECT_TRUE(store.LoadAssignments().Value().empty());
}

TEST_F(EtcdStoreTest, WhatIsSavedUnderThePrefixIsLoadedBack) {
    const std::string text = "127.0.0.2 name=desk room=a  # by the window\n/dev/ttyUSB0\n";
    ASSERT_FALSE(store.SaveUnits(groups::ParseUnitsFile(text).Value()));
    EXPECT_EQ(groups::FormatUnitsFile(store.LoadUnits().Value()), text);
    EXPECT_EQ(client.Get("/vantrel/units").Value().kvs.at(0).value, text);

    ASSERT_FALSE(store.SaveSnapshot(Taken("morning", 10)));
    ASSERT_FALSE(store.SaveSnapshot(Taken("evening", 20)));
    ASSERT_FALSE(store.SaveSnapshot(Taken("morning", 30)));
    ASSERT_FALSE(store.DeleteSnapshot("evening"));
    const auto snapshots = store.LoadSnapshots();
    ASSERT_TRUE(snapshots.Ok()) << snapshots.GetError().text;
    ASSERT_EQ(snapshots.Value().size(), 1u);
    EXPECT_EQ(snapshots.Value()[0].name, "morning");
    EXPECT_EQ(snapshots.Value()[0].units.at(0).settings.values.at(groups::Setting::kVolume), 30);

    const Assignments assignments{{"desk", "morning"}, {"127.0.0.3", "night"}};
    ASSERT_FALSE(store.SaveAssignments(assignments));
    EXPECT_EQ(store.LoadAssignments().Value(), assignments);

    EtcdStore elsewhere{client, "/other/"};
    EXPECT_TRUE(elsewhere.LoadSnapshots().Value().empty());
}

TEST_F(EtcdStoreTest, WhatCannotBeReadIsAnErrorNamingTheKey) {
    ASSERT_TRUE(client.Put("/vantrel/units", "10.0.0\n").Ok());
    ASSERT_TRUE(client.Put("/vantrel/snapshots/torn", "{\"format\":").Ok());
    ASSERT_TRUE(client.Put("/vantrel/assignments", "[]").Ok());
    EXPECT_NE(store.LoadUnits().GetError().text.find("/vantrel/units"), std::string::npos);
    EXPECT_NE(store.LoadSnapshots().GetError().text.find("/vantrel/snapshots/torn"),
              std::string::npos);
    EXPECT_NE(store.LoadAssignments().GetError().text.find("/vantrel/assignments"),
              std::string::npos);

    etcd.Stop();
    EXPECT_TRUE(store.SaveAssignments({}).has_value());
    EXPECT_FALSE(store.LoadUnits().Ok());
}

}  // namespace
}  // namespace etcd_store_test
}  // namespace vantrel::gateway::cluster
