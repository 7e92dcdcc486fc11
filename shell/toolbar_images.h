// Our own pictures: the 31 by 14 tool-bar images and the About and welcome pictures, drawn as
// simple pictograms.
#pragma once

#include <QPixmap>
#include <QString>

inline constexpr int kToolBarImageWidth = 31;
inline constexpr int kToolBarImageHeight = 14;

// The tool-bar image of a command (a blank image for an unknown id).
QPixmap ToolBarImage(int commandId);
// A named picture: "203" (the banner), "208" (the emblem), "ZanthoLogo", "linebmp" (a separator
// line). A null pixmap for any other name.
QPixmap NamedPicture(const QString &name);
