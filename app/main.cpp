#include <QApplication>

#include "app/frmserialdata.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KavoConfig"));
    // The program ends when the window is unloaded and what it was doing has ended (an
    // upload closes its card file first), not as soon as the window is gone.
    QApplication::setQuitOnLastWindowClosed(false);

    frmSerialData window;
    if (!window.Form_Load())
        return 0;
    QObject::connect(&window, &frmSerialData::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();
    return app.exec();
}
