#pragma once

#include <QtGlobal>

// A long list holds each text its rows repeat (a group, an account, a port, a date, the panel
// fields' "0") once, as one shared string, instead of once per row: rows read from the file
// and rows a batch adds alike. Each column shares up to kPerColumn distinct texts of at most
// kMaxLength characters (bytes as stored, for a read): longer texts are seldom repeated, and a
// column whose texts differ from row to row stops growing there.
namespace RepeatedTexts {
inline constexpr qsizetype kMaxLength = 64;
inline constexpr qsizetype kPerColumn = 256;
} // namespace RepeatedTexts
