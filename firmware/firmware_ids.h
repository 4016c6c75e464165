#pragma once

// Control identifiers of the firmware update dialog (template 100) that the procedures
// update, as plain numbers so that the core needs no resource header.
namespace vantrel::firmware {

constexpr int kProgressBar = 1010;
constexpr int kMainLoadButton = 1011;
constexpr int kMainBurnButton = 1012;
constexpr int kMainStopButton = 1013;
constexpr int kNetLoadButton = 1014;
constexpr int kNetBurnButton = 1015;
constexpr int kNetStopButton = 1016;
constexpr int kBreakButton = 1017;
constexpr int kMainPathText = 1025;
constexpr int kMainSizeText = 1026;
constexpr int kMainStatusText = 1027;
constexpr int kNetPathText = 1028;
constexpr int kNetSizeText = 1030;
constexpr int kNetStatusText = 1031;
constexpr int kMainVersionText = 1064;
constexpr int kNetVersionText = 1065;

}  // namespace vantrel::firmware
