#pragma once

// Control and bitmap identifiers of the main panel (dialog 129) as the portable core uses them.
// They are taken from the resource header itself, which holds only plain #defines, so the
// core and the dialog template cannot disagree.
#include "res/resource.h"

namespace vantrel {

// Controls.
constexpr int kStatusText = IDC_STATUS_TEXT;
constexpr int kVolumeBar = IDC_VOLUME_BAR;  // bars 1010..1013 show m_levels[0..3]
constexpr int kComPortList = IDC_COM_PORTS;
constexpr int kIpAddress = IDC_UNIT_IP;
constexpr int kMaskAddress = IDC_UNIT_MASK;
constexpr int kGatewayAddress = IDC_UNIT_GATEWAY;
constexpr int kMacText = IDC_UNIT_MAC;
constexpr int kStaticIpRadio = IDC_STATIC_IP;
constexpr int kDhcpRadio = IDC_DHCP;
constexpr int kConnectAddress = IDC_CONNECT_IP;
constexpr int kLinkCaption = IDC_LINK_CAPTION;
constexpr int kSoloLeftPicture = IDC_SOLO_LEFT;
constexpr int kSoloRightPicture = IDC_SOLO_RIGHT;
constexpr int kSdiInputPicture = IDC_SDI_INPUT;
constexpr int kMixDownPicture = IDC_MIX_DOWN;
constexpr int kVuModePicture = IDC_VU_MODE;
constexpr int kDppmModePicture = IDC_DPPM_MODE;
constexpr int kConnectPicture = IDC_CONNECT;
constexpr int kDisconnectPicture = IDC_DISCONNECT;
constexpr int kReadPicture = IDC_READ;
constexpr int kApplyPicture = IDC_APPLY;
constexpr int kDefaultIpPicture = IDC_DEFAULT_IP;
constexpr int kHdmiInputPicture = IDC_HDMI_INPUT;
constexpr int kBalancedInputPicture = IDC_BALANCED_INPUT;
constexpr int kUnbalancedInputPicture = IDC_UNBALANCED_INPUT;

/// The bar that shows m_levels[index].
constexpr int LevelBar(int index) { return kVolumeBar + index; }

// Bitmaps of the pictures that the session and the network-settings buttons change; the
// control buttons' own pictures are in the control table.
constexpr int kBmpConnectGrey = IDB_CONNECT;
constexpr int kBmpDisconnectGrey = IDB_DISCONNECT;
constexpr int kBmpReadLit = IDB_READ_LIT;
constexpr int kBmpApplyLit = IDB_APPLY_LIT;
constexpr int kBmpConnectLit = IDB_CONNECT_LIT;
constexpr int kBmpDisconnectLit = IDB_DISCONNECT_LIT;
constexpr int kBmpDefaultIpLit = IDB_DEFAULT_IP_LIT;

}  // namespace vantrel
