#pragma once

// Control and bitmap identifiers of the main panel (dialog 129) that the portable core uses,
// as plain numbers so that the core needs no resource header.
namespace vantrel {

// Controls.
constexpr int kStatusText = 1008;
constexpr int kVolumeBar = 1010;  // bars 1010..1013 show m_levels[0..3]
constexpr int kBrightnessBar = 1011;
constexpr int kContrastBar = 1012;
constexpr int kSaturationBar = 1013;
constexpr int kIpAddress = 1028;
constexpr int kMaskAddress = 1029;
constexpr int kGatewayAddress = 1030;
constexpr int kMacText = 1031;
constexpr int kStaticIpRadio = 1032;
constexpr int kDhcpRadio = 1033;
constexpr int kConnectAddress = 1036;
constexpr int kSoloLeftPicture = 1038;
constexpr int kSoloRightPicture = 1039;
constexpr int kSdiInputPicture = 1044;
constexpr int kMixDownPicture = 1045;
constexpr int kVuModePicture = 1046;
constexpr int kDppmModePicture = 1047;
constexpr int kConnectPicture = 1049;
constexpr int kDisconnectPicture = 1050;
constexpr int kReadPicture = 1055;
constexpr int kApplyPicture = 1056;
constexpr int kHdmiInputPicture = 1065;
constexpr int kBalancedInputPicture = 1067;
constexpr int kUnbalancedInputPicture = 1068;

/// The bar that shows m_levels[index].
constexpr int LevelBar(int index) { return kVolumeBar + index; }

// Bitmaps.
constexpr int kBmpDppmModeGrey = 209;
constexpr int kBmpMixDownGrey = 212;
constexpr int kBmpSoloRightGrey = 219;
constexpr int kBmpSdiInputGrey = 220;
constexpr int kBmpVuModeGrey = 222;
constexpr int kBmpSoloLeftGrey = 225;
constexpr int kBmpConnectGrey = 227;
constexpr int kBmpDisconnectGrey = 228;
constexpr int kBmpSoloLeftLit = 232;
constexpr int kBmpSoloRightLit = 234;
constexpr int kBmpSdiInputLit = 239;
constexpr int kBmpMixDownLit = 240;
constexpr int kBmpVuModeLit = 241;
constexpr int kBmpDppmModeLit = 242;
constexpr int kBmpReadLit = 248;
constexpr int kBmpApplyLit = 249;
constexpr int kBmpConnectLit = 250;
constexpr int kBmpDisconnectLit = 251;
constexpr int kBmpHdmiInputGrey = 257;
constexpr int kBmpHdmiInputLit = 258;
constexpr int kBmpBalancedInputGrey = 259;
constexpr int kBmpBalancedInputLit = 260;
constexpr int kBmpUnbalancedInputGrey = 261;
constexpr int kBmpUnbalancedInputLit = 262;

}  // namespace vantrel
