// kavo-screenshot: saves what an X display shows as a PNG.
//
//   kavo-screenshot OUT.png [X Y WIDTH HEIGHT]
//
// Grabs the whole screen, or the given rectangle of it, on the display named by $DISPLAY.
// The run scripts use it to show a headless run of kavoconfig under Xvfb.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Always the X display: the point is to see what the X server shows.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 && args.size() != 6) {
        std::fprintf(stderr, "usage: kavo-screenshot OUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    int x = 0, y = 0, w = -1, h = -1;
    if (args.size() == 6) {
        bool ok[4];
        x = args[2].toInt(&ok[0]);
        y = args[3].toInt(&ok[1]);
        w = args[4].toInt(&ok[2]);
        h = args[5].toInt(&ok[3]);
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || w <= 0 || h <= 0) {
            std::fprintf(stderr, "kavo-screenshot: the rectangle needs four whole numbers, width and height above 0\n");
            return 2;
        }
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "kavo-screenshot: no screen\n");
        return 1;
    }
    const QPixmap shot = screen->grabWindow(0, x, y, w, h);
    if (shot.isNull() || !shot.save(args[1], "PNG")) {
        std::fprintf(stderr, "kavo-screenshot: could not save %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
