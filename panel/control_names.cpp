#include "panel/control_names.h"

#include <iterator>

#include "res/resource.h"

namespace vantrel {

namespace {

const PictureName kPictures[] = {
    {IDC_SOLO_LEFT, "Solo Left", IDB_SOLO_LEFT, IDB_SOLO_LEFT_LIT},
    {IDC_SOLO_RIGHT, "Solo Right", IDB_SOLO_RIGHT, IDB_SOLO_RIGHT_LIT},
    {IDC_PRE_2CH, "Pre 2ch", IDB_PRE_2CH, 0},
    {IDC_NEXT_2CH, "Next 2ch", IDB_NEXT_2CH, 0},
    {IDC_PRE_8CH, "Pre 8ch", IDB_PRE_8CH, 0},
    {IDC_NEXT_8CH, "Next 8ch", IDB_NEXT_8CH, 0},
    {IDC_SDI_INPUT, "SDI Input", IDB_SDI_INPUT, IDB_SDI_INPUT_LIT},
    {IDC_MIX_DOWN, "Mix-Down", IDB_MIX_DOWN, IDB_MIX_DOWN_LIT},
    {IDC_VU_MODE, "VU-Mode", IDB_VU_MODE, IDB_VU_MODE_LIT},
    {IDC_DPPM_MODE, "DPPM-MODE", IDB_DPPM_MODE, IDB_DPPM_MODE_LIT},
    {IDC_LKFS_MODE, "LKFS-Mode", IDB_LKFS_MODE_LIT, 0},
    // Connect is lit while a session runs, Disconnect once one has ended.
    {IDC_CONNECT, "Connect", IDB_CONNECT, IDB_CONNECT_LIT},
    {IDC_DISCONNECT, "Disconnect", IDB_DISCONNECT, IDB_DISCONNECT_LIT},
    {IDC_VOLUME_DOWN, "Volume Down", IDB_DOWN, 0},
    {IDC_VOLUME_UP, "Volume Up", IDB_UP, 0},
    {IDC_MUTE, "Mute", IDB_MUTE, 0},
    {IDC_FIRMWARE_UPDATE, "Firmware Update", IDB_FIRMWARE_UPDATE, 0},
    {IDC_READ, "Read", IDB_READ, 0},
    {IDC_APPLY, "Apply", IDB_APPLY, 0},
    {IDC_BRIGHTNESS_DOWN, "LCD Brightness Down", IDB_DOWN, 0},
    {IDC_BRIGHTNESS_UP, "LCD Brightness Up", IDB_UP, 0},
    {IDC_CONTRAST_DOWN, "LCD Contrast Down", IDB_DOWN, 0},
    {IDC_CONTRAST_UP, "LCD Contrast Up", IDB_UP, 0},
    {IDC_SATURATION_DOWN, "LCD Saturation Down", IDB_DOWN, 0},
    {IDC_SATURATION_UP, "LCD Saturation Up", IDB_UP, 0},
    {IDC_FACTORY_RESET, "Factory Reset", IDB_FACTORY_RESET, 0},
    {IDC_DEFAULT_IP, "Default IP", IDB_DEFAULT_IP, 0},
    {IDC_HDMI_INPUT, "HDMI Input", IDB_HDMI_INPUT, IDB_HDMI_INPUT_LIT},
    {IDC_BALANCED_INPUT, "Balanced Audio Input", IDB_BALANCED_INPUT, IDB_BALANCED_INPUT_LIT},
    {IDC_UNBALANCED_INPUT, "Unbalanced Audio Input", IDB_UNBALANCED_INPUT,
     IDB_UNBALANCED_INPUT_LIT},
};

const CaptionName kRadios[] = {
    {IDC_ETHERNET, "Ethernet"},
    {IDC_RS232, "RS232"},
    {IDC_STATIC_IP, "Static IP"},
    {IDC_DHCP, "DHCP"},
};

// As the background paints them; the link's field has the caption control beside it, which
// reads "IP" on Ethernet and "PORT" on RS232.
const CaptionName kCaptions[] = {
    {IDC_VOLUME_BAR, "Volume"},
    {IDC_COM_PORTS, "PORT"},
    {IDC_UNIT_IP, "IP Address"},
    {IDC_UNIT_MASK, "Subnet Mask"},
    {IDC_UNIT_GATEWAY, "Gateway"},
    {IDC_UNIT_MAC, "MAC Address"},
    {IDC_CONNECT_IP, "IP"},
    {IDC_BRIGHTNESS_BAR, "LCD Brightness"},
    {IDC_CONTRAST_BAR, "LCD Contrast"},
    {IDC_SATURATION_BAR, "LCD Saturation"},
};

}  // namespace

const PictureName* PictureNames(int* count) {
    *count = static_cast<int>(std::size(kPictures));
    return kPictures;
}

const PictureName* FindPictureName(int control) {
    for (const PictureName& picture : kPictures) {
        if (picture.control == control) return &picture;
    }
    return nullptr;
}

std::string PictureNameShowing(const PictureName& picture, int bitmap) {
    std::string name = picture.label;
    if (picture.litBitmap != 0 && bitmap == picture.litBitmap) name += ", on";
    return name;
}

const CaptionName* RadioNames(int* count) {
    *count = static_cast<int>(std::size(kRadios));
    return kRadios;
}

const CaptionName* CaptionNames(int* count) {
    *count = static_cast<int>(std::size(kCaptions));
    return kCaptions;
}

}  // namespace vantrel
