// The baseline: the smallest Qt Widgets program that shows a window of the
// workbench's size.

#include "bench/startup/firstpaint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(942, 696);
    window.setWindowTitle(QStringLiteral("minimal"));
    FirstPaintProbe probe(&window);
    window.show();
    return app.exec();
}
