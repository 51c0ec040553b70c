#pragma once

#include <QString>

// Torvane's own web pages: the link labels' built-in rows and the download button open them.
namespace ProjectPages {

inline const QString kSite = QStringLiteral("https://www.torvane.net/");

// Where the newest release is offered for download.
inline const QString kDownload = kSite + QStringLiteral("download/");

} // namespace ProjectPages
