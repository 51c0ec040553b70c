#pragma once

#include <QString>

// Well-known folders by number (1 "AppData" ... 35 "Temp" ... 43 "软件安装目录", the
// program's own folder); the numbers are the ones the tool and session code ask for.
namespace SpecialFolder {

constexpr int kTemp = 35;
constexpr int kProgramFolder = 43;

// The folder's name for a number from 1 to 43; empty for any other number.
QString name(int number);

// The folder's path; empty when there is none. An environment variable of the folder's name
// wins, so a user can move a folder without touching the program; number 35 is the tool
// folder.
QString path(int number);

} // namespace SpecialFolder
