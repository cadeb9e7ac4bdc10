// Start-up: check for a display, create the document and the main window, run the event loop.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "ui/mainwindow.h"
#include "ui/qtplatform.h"

namespace {
bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;  // the caller chose a platform, offscreen for instance
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}
}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "orvane: no display (DISPLAY and WAYLAND_DISPLAY are unset); start it in a desktop session, "
                     "or without one as: xvfb-run -a %s\n",
                     argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));

    orv::CQtPlatformServices services;
    orv::COrvaneDoc doc(services.platform);
    doc.New();
    // A layout file named on the command line is opened at once.
    if (argc > 1) doc.Open(argv[1]);
    orv::CMainFrame frame(doc);
    services.prompter.SetParentWindow(&frame);
    frame.show();
    const int rc = app.exec();
    // The document drains the FTP queue as it goes: its worker must not wait for the ended event loop.
    services.prompter.Detach();
    return rc;
}
