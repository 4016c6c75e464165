#pragma once

// Control identifiers of the firmware update dialog (template 100) that its presenter updates.
// Taken from the resource header itself, which holds only plain #defines, so the presenter and
// the dialog template cannot disagree.
#include "res/resource.h"

namespace vantrel {

constexpr int kProgressBar = IDC_FW_PROGRESS;
constexpr int kMainBurnButton = IDC_FW_MAIN_BURN;
constexpr int kNetBurnButton = IDC_FW_NET_BURN;
constexpr int kBreakButton = IDC_FW_BREAK;
constexpr int kMainSizeText = IDC_FW_MAIN_SIZE;
constexpr int kMainStatusText = IDC_FW_MAIN_STATUS;
constexpr int kNetSizeText = IDC_FW_NET_SIZE;
constexpr int kNetStatusText = IDC_FW_NET_STATUS;

}  // namespace vantrel
