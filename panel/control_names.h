#pragma once

#include <string>

namespace vantrel {

/// What a screen reader calls each control of the panel. The labels a user reads are painted
/// in the bitmaps, so the names are written out here: the same words as the pictures and the
/// captions beside the controls.
struct PictureName {
    int control;
    const char* label;
    int normalBitmap;  // the grey look the template gives it
    int litBitmap;     // for a lamp, the blue look that means "on"; 0 for a plain button
};

/// A control that shows a value (address, MAC, COM port, meter), named by its caption.
struct CaptionName {
    int control;
    const char* caption;
};

/// The pictures in the template's creation order.
const PictureName* PictureNames(int* count);
/// The pictures' row for control, or nullptr.
const PictureName* FindPictureName(int control);
/// The name of a picture that shows bitmap: its label, and for a lamp whether it is lit.
std::string PictureNameShowing(const PictureName& picture, int bitmap);

/// The radio buttons' names: their groups' labels.
const CaptionName* RadioNames(int* count);
/// The value controls' captions, in creation order.
const CaptionName* CaptionNames(int* count);

}  // namespace vantrel
