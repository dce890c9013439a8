#pragma once

// The images of the frame: ten tool-bar images (index 0 to 9), two status images and the program
// icon. Each comes from the desktop's icon theme where the theme has a fitting one, else from the
// program's own images, so that no button is ever blank.

#include <QIcon>
#include <QPixmap>

constexpr int ToolBarImageCount = 10;
constexpr int ToolBarImageSize = 32;
constexpr int StatusImageSize = 16;

QIcon ToolBarImage(int index);
// Image 0: the meter is connected; image 1: always shown.
QPixmap StatusImage(int index);
QIcon ProgramIcon();
