#pragma once

#include <QDateTime>
#include <QString>

// The date-time text that begins log lines: "2024年6月6日9时5分7秒". Trailing zero parts are
// left out, so midnight reads as the date alone.
QString timeText(const QDateTime& moment);
QString timeText();
