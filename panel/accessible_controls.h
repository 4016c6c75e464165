#pragma once

#include <windows.h>

namespace vantrel {

/// Gives the panel's controls what a keyboard and a screen reader need, leaving the template's
/// layout, pictures and ids as they are:
/// - each picture is a tab stop whose window text is its name (the static stores that text
///   without reading it as a bitmap's name); Space or Enter on it is a click (STN_CLICKED, as
///   the mouse sends), and it draws a focus rectangle inside its face while focused;
/// - each radio button carries its group's label as its text (too narrow to show it) and is a
///   tab stop;
/// - before each value control in z-order stands an empty-sized static with its caption, the
///   label that MSAA takes for a control without a text of its own.
/// Runs once, from the dialog's initialisation.
void MakeAccessible(HWND dialog);

/// Names a picture after the bitmap it now shows: a lamp says whether it is lit. Any thread.
void NamePicture(HWND picture, int bitmap);

}  // namespace vantrel
