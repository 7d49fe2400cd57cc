#pragma once

// The right pane's pictures. The report image strip (bitmap 231) holds 16 x 16 images on magenta;
// image 4 marks a read message. This is the one place that loads it, so the program's resource
// library plugs in here.

#include <QPixmap>

inline constexpr int kReportImageBitmap = 231;
inline constexpr int kReportImageWidth = 16;
inline constexpr int kReadMessageImage = 4;
inline constexpr int kRemoveColumnCursor = 106;

QPixmap reportImageStrip();
