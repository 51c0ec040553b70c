#pragma once

// The server list's columns, in display order.
namespace ListColumn {
enum : int { Id, Group, Name, Address, StartTime, EndTime, Remark, System, Status, Sort, Count };
} // namespace ListColumn
