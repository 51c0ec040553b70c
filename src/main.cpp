#include "ui/app/application.h"
#include "ui/app/main_window.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    setUpApplication(app);
    MainWindow window;
    window.show();
    return app.exec();
}
