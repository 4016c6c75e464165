#pragma once

// Control identifiers of the firmware update dialog (template 100) that the procedures
// update. Taken from the resource header itself, which holds only plain #defines, so the core
// and the dialog template cannot disagree.
#include "res/resource.h"

namespace vantrel::firmware {

constexpr int kProgressBar = IDC_FW_PROGRESS;
constexpr int kMainLoadButton = IDC_FW_MAIN_LOAD;
constexpr int kMainBurnButton = IDC_FW_MAIN_BURN;
constexpr int kMainStopButton = IDC_FW_MAIN_STOP;
constexpr int kNetLoadButton = IDC_FW_NET_LOAD;
constexpr int kNetBurnButton = IDC_FW_NET_BURN;
constexpr int kNetStopButton = IDC_FW_NET_STOP;
constexpr int kBreakButton = IDC_FW_BREAK;
constexpr int kMainPathText = IDC_FW_MAIN_PATH;
constexpr int kMainSizeText = IDC_FW_MAIN_SIZE;
constexpr int kMainStatusText = IDC_FW_MAIN_STATUS;
constexpr int kNetPathText = IDC_FW_NET_PATH;
constexpr int kNetSizeText = IDC_FW_NET_SIZE;
constexpr int kNetStatusText = IDC_FW_NET_STATUS;
constexpr int kMainVersionText = IDC_FW_MAIN_VERSION;
constexpr int kNetVersionText = IDC_FW_NET_VERSION;

}  // namespace vantrel::firmware
