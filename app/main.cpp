#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/frmserialdata.h"

namespace {

// --help and --version are answered before the window system is reached, so they work
// where no display is. Every other argument is left to Qt.
bool answeredWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs("Usage: kavoconfig [options]\n"
                       "The Kavo Configuration Tool: finds a Kavo MP3 player module on a COM port, shows its\n"
                       "version and card space, reads and writes its settings and plays a test file on it.\n"
                       "\n"
                       "Options:\n"
                       "  -h, --help  Shows this help.\n"
                       "  --version   Shows the version.\n",
                       stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("kavoconfig " KAVO_VERSION "\n", stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (answeredWithoutWindow(argc, argv))
        return 0;
    QApplication app(argc, argv);
    // The names say where the per-user configuration lives (KavoConfig/KavoConfig.conf).
    QApplication::setOrganizationName(QStringLiteral("KavoConfig"));
    QApplication::setApplicationName(QStringLiteral("KavoConfig"));
    QApplication::setApplicationVersion(QStringLiteral(KAVO_VERSION));

    // The program ends when its last window closes: the window, or the box that says no
    // COM port can be used. The window waits for its session's thread as it goes (an upload
    // closes its card file first).
    frmSerialData window;
    if (window.Form_Load())
        window.show();
    return app.exec();
}
