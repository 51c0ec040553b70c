#pragma once

#include <QString>

#include <array>

// The server list's columns, by the cell index every feature uses.
namespace ListColumn {
enum : int {
    Id,
    Group,
    Name,
    Address,
    StartTime,
    EndTime,
    Remark,
    System,
    Status,
    Sort,
    Port,
    User,
    Password,
    PanelUrl,
    PanelUser,
    PanelPassword,
    PanelKey,
    Count
};
} // namespace ListColumn

// One row of the list: its seventeen cells, in column order.
using ListCells = std::array<QString, ListColumn::Count>;
