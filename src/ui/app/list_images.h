#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

// The server list's pictures.
namespace ListImages {

// A grey upward caret on white, 16 x 15, drawn: the header mark of the two date columns.
QPixmap headerCaret();

// The 状态 cell's images, 36 x 17: index 0 a green dot (the port answered), index 1 a grey
// dot (it did not).
QList<QIcon> statusDots();

} // namespace ListImages
