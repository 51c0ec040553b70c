#pragma once

#include "ui/app/application.h"

#include <QApplication>
#include <QTest>

// The main of a window test: the application set up as Torvane sets itself up (name, icon,
// Qt's own texts), then the test class run.
#define TORVANE_GUI_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char* argv[]) {                                                             \
        QApplication app(argc, argv);                                                              \
        setUpApplication(app);                                                                     \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
