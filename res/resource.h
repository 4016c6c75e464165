// Resource ids of the panel: the dialog templates, their controls, the icon and the bitmaps.
// Plain #defines so that both the resource compiler and C++ can use them.
#ifndef VANTREL_RES_RESOURCE_H
#define VANTREL_RES_RESOURCE_H

#define IDD_FIRMWARE 100
#define IDI_PANEL 128
#define IDD_PANEL 129

// Controls of the panel, by role.
#define IDC_STATUS_TEXT 1008
#define IDC_ETHERNET 1009
#define IDC_VOLUME_BAR 1010
#define IDC_BRIGHTNESS_BAR 1011
#define IDC_CONTRAST_BAR 1012
#define IDC_SATURATION_BAR 1013
#define IDC_RS232 1019
#define IDC_COM_PORTS 1023
#define IDC_UNIT_IP 1028
#define IDC_UNIT_MASK 1029
#define IDC_UNIT_GATEWAY 1030
#define IDC_UNIT_MAC 1031
#define IDC_STATIC_IP 1032
#define IDC_DHCP 1033
#define IDC_CONNECT_IP 1036
#define IDC_SOLO_LEFT 1038
#define IDC_SOLO_RIGHT 1039
#define IDC_PRE_2CH 1040
#define IDC_NEXT_2CH 1041
#define IDC_PRE_8CH 1042
#define IDC_NEXT_8CH 1043
#define IDC_SDI_INPUT 1044
#define IDC_MIX_DOWN 1045
#define IDC_VU_MODE 1046
#define IDC_DPPM_MODE 1047
#define IDC_LKFS_MODE 1048
#define IDC_CONNECT 1049
#define IDC_DISCONNECT 1050
#define IDC_VOLUME_DOWN 1051
#define IDC_VOLUME_UP 1052
#define IDC_MUTE 1053
#define IDC_FIRMWARE_UPDATE 1054
#define IDC_READ 1055
#define IDC_APPLY 1056
#define IDC_BRIGHTNESS_DOWN 1057
#define IDC_BRIGHTNESS_UP 1058
#define IDC_CONTRAST_DOWN 1059
#define IDC_CONTRAST_UP 1060
#define IDC_SATURATION_DOWN 1061
#define IDC_SATURATION_UP 1062
#define IDC_FACTORY_RESET 1063
#define IDC_DEFAULT_IP 1064
#define IDC_HDMI_INPUT 1065
#define IDC_LINK_CAPTION 1066
#define IDC_BALANCED_INPUT 1067
#define IDC_UNBALANCED_INPUT 1068

// Controls of the firmware update dialog. Their numbers overlap the panel's, which is fine:
// each dialog has its own.
#define IDC_FW_PROGRESS 1010
#define IDC_FW_MAIN_LOAD 1011
#define IDC_FW_MAIN_BURN 1012
#define IDC_FW_MAIN_STOP 1013
#define IDC_FW_NET_LOAD 1014
#define IDC_FW_NET_BURN 1015
#define IDC_FW_NET_STOP 1016
#define IDC_FW_BREAK 1017
#define IDC_FW_MAIN_PATH 1025
#define IDC_FW_MAIN_SIZE 1026
#define IDC_FW_MAIN_STATUS 1027
#define IDC_FW_NET_PATH 1028
#define IDC_FW_NET_SIZE 1030
#define IDC_FW_NET_STATUS 1031
#define IDC_FW_MAIN_VERSION 1064
#define IDC_FW_NET_VERSION 1065

// Bitmaps: the plain name is a control's grey normal look, _LIT its blue lit or pressed look.
#define IDB_DOWN 208
#define IDB_DPPM_MODE 209
#define IDB_FIRMWARE_UPDATE 210
#define IDB_MIX_DOWN 212
#define IDB_MUTE 213
#define IDB_NEXT_2CH 214
#define IDB_NEXT_8CH 215
#define IDB_PRE_2CH 216
#define IDB_PRE_8CH 217
#define IDB_READ 218
#define IDB_SOLO_RIGHT 219
#define IDB_SDI_INPUT 220
#define IDB_UP 221
#define IDB_VU_MODE 222
#define IDB_APPLY 223
#define IDB_BACKGROUND 224
#define IDB_SOLO_LEFT 225
#define IDB_LKFS_MODE_LIT 226
#define IDB_CONNECT 227
#define IDB_DISCONNECT 228
#define IDB_FACTORY_RESET 230
#define IDB_SOLO_LEFT_LIT 232
#define IDB_SOLO_RIGHT_LIT 234
#define IDB_PRE_2CH_LIT 235
#define IDB_NEXT_2CH_LIT 236
#define IDB_PRE_8CH_LIT 237
#define IDB_NEXT_8CH_LIT 238
#define IDB_SDI_INPUT_LIT 239
#define IDB_MIX_DOWN_LIT 240
#define IDB_VU_MODE_LIT 241
#define IDB_DPPM_MODE_LIT 242
#define IDB_DOWN_LIT 243
#define IDB_UP_LIT 244
#define IDB_MUTE_LIT 245
#define IDB_FIRMWARE_UPDATE_LIT 246
#define IDB_FACTORY_RESET_LIT 247
#define IDB_READ_LIT 248
#define IDB_APPLY_LIT 249
#define IDB_CONNECT_LIT 250
#define IDB_DISCONNECT_LIT 251
#define IDB_DEFAULT_IP_LIT 253
#define IDB_DEFAULT_IP 254
#define IDB_HDMI_INPUT 257
#define IDB_HDMI_INPUT_LIT 258
#define IDB_BALANCED_INPUT 259
#define IDB_BALANCED_INPUT_LIT 260
#define IDB_UNBALANCED_INPUT 261
#define IDB_UNBALANCED_INPUT_LIT 262

// Each bitmap drawn at twice its size, for screens above 100%, is resource 1000 + its id
// (bitmaps2x.rc).
#define IDB_DOUBLE_SCALE_OFFSET 1000

#endif
