#pragma once

class QApplication;

// Process-wide settings made once at start: the program's name (which places the per-user
// data folder) and the interface font.
void setUpApplication(QApplication& app);
