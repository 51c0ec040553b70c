#pragma once

#include "core/cloud/cloud_api.h"

#include <QString>

#include <array>
#include <optional>

// What the eight link labels of the main window show: our own built-in rows, replaced line by
// line by the announcements the cloud service hands out ("asfsgds"). Line n of the reply
// belongs to label n: "caption----address" or "caption----address----colour".
namespace AnnouncementLoader {

inline constexpr int kLinkCount = 8;

struct LinkRow {
    QString caption;
    QString address;
    // The text colour as a Windows colour value 0x00BBGGRR, when the line gave one; without
    // it the label keeps the colour it has.
    std::optional<quint32> colour;

    bool operator==(const LinkRow&) const = default;
};

using LinkRows = std::array<LinkRow, kLinkCount>;

// Our own pages, shown until a reply replaces them and whenever the reply has no usable line.
LinkRows builtInRows();

// The built-in rows with every usable line of the reply put in place. A reply the service
// never answered counts as empty. Lines are cut at CR LF and fields at "----" (a trailing
// separator adds no empty piece, so "caption----" is one field and unusable); a line needs
// two fields; lines after the eighth and fields after the third are ignored.
LinkRows rowsFromReply(const CloudApi::Reply& reply);

// A colour field as a decimal whole number; text that is not one gives 0 (black). Only the
// three colour bytes are kept.
quint32 colourFromText(const QString& text);

} // namespace AnnouncementLoader
