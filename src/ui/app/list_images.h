#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

// The server list's own pictures, 16 x 15, drawn rather than shipped.
namespace ListImages {

// A grey upward caret on white: the header mark of the two date columns.
QPixmap headerCaret();

// Index 0 a green dot, index 1 a grey dot: answered / not answered.
QList<QIcon> statusDots();

} // namespace ListImages
