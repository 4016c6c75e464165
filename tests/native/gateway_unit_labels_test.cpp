// The units file's names and labels, as the program reads them, in the API and the metrics.
#include <httplib.h>
#include <signal.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

#include "tests/support/gateway_process.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace gateway_unit_labels_test {
namespace {

constexpr std::chrono::milliseconds kLimit(5000);

TEST(GatewayUnitLabelsTest, TheUnitsFilesNamesAndLabelsShowInTheApiAndOneInfoSeries) {
    testing::TempFile file("labels-units",
                           "127.0.61.1 name=desk-1 site=studio-a role-x=qc  # the desk\n"
                           "127.0.61.2\n");
    testing::GatewayProcess gateway({"--units-file", file.Path(), "--listen", "127.0.0.1:18062"});
    ASSERT_TRUE(gateway.Serving(kLimit)) << gateway.Errors();
    httplib::Client client("127.0.0.1", 18062);

    const auto list = client.Get("/api/units");
    ASSERT_TRUE(list);
    const nlohmann::json units = nlohmann::json::parse(list->body)["units"];
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0]["name"], "desk-1");
    EXPECT_EQ(units[0]["labels"], (nlohmann::json{{"site", "studio-a"}, {"role-x", "qc"}}));
    EXPECT_TRUE(units[1]["name"].is_null());
    EXPECT_EQ(units[1]["labels"], nlohmann::json::object());
    const auto one = client.Get("/api/units/127.0.61.1");
    ASSERT_TRUE(one);
    EXPECT_EQ(nlohmann::json::parse(one->body)["name"], "desk-1");

    const auto metrics = client.Get("/metrics");
    ASSERT_TRUE(metrics);
    const std::string& text = metrics->body;
    EXPECT_NE(text.find("vantrel_unit_info{unit=\"127.0.61.1\",name=\"desk-1\","
                        "label_site=\"studio-a\",label_role_x=\"qc\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("vantrel_unit_info{unit=\"127.0.61.2\",name=\"\"} 1\n"), std::string::npos);
    // Only the info series carries them.
    EXPECT_EQ(text.find("studio-a"), text.rfind("studio-a"));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Exit(kLimit), 0);
}

TEST(GatewayUnitLabelsTest, ABadLabelStopsTheStartNamingTheFileAndLine) {
    testing::TempFile file("labels-bad", "127.0.61.1 site=a\n127.0.61.2 site\n");
    testing::GatewayProcess gateway({"--units-file", file.Path(), "--listen", "127.0.0.1:18062"});
    EXPECT_EQ(gateway.Exit(kLimit), 2);
    EXPECT_NE(gateway.Errors().find(file.Path() + " line 2: "), std::string::npos)
        << gateway.Errors();
    EXPECT_NE(gateway.Errors().find("127.0.61.2 site"), std::string::npos);
}

}  // namespace
}  // namespace gateway_unit_labels_test
}  // namespace vantrel
