#pragma once

#include <QString>

// Well-known folders by the numbers the program has always used (1 "AppData" ... 35 "Temp"
// ... 43 "软件安装目录", the program's own folder).
namespace SpecialFolder {

constexpr int kTemp = 35;
constexpr int kProgramFolder = 43;

// The folder's name for a number from 1 to 43; empty for any other number.
QString name(int number);

// The folder's path; empty when there is none. An environment variable of the folder's name
// wins, as it always has; number 35 is the tool folder.
QString path(int number);

} // namespace SpecialFolder
