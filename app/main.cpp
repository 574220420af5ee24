#include <QApplication>

#include "app/frmserialdata.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KavoConfig"));

    frmSerialData window;
    if (!window.Form_Load())
        return 0;
    window.show();
    return app.exec();
}
