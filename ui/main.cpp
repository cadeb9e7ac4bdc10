// Start-up: the command line, a display check, the document, the main window, the event loop.
#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

#include "net/udpsocket.h"
#include "ui/commandline.h"
#include "ui/mainwindow.h"
#include "ui/qtplatform.h"
#include "ui/settings.h"

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
    const std::string program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString();
    const orv::CCommandLine line = orv::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!line.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), line.error.c_str(), orv::UsageText(program).c_str());
        return 2;
    }
    if (line.help) {
        std::fputs(orv::UsageText(program).c_str(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("Orvane %s\n", ORVANE_VERSION);
        return 0;
    }
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "orvane: no display (DISPLAY and WAYLAND_DISPLAY are unset); start it in a desktop session, "
                     "or without one as: xvfb-run -a %s\n",
                     argv[0]);
        return 2;
    }
    orv::CUdpSocket::RaiseDescriptorLimit();  // every object holds a socket: a large layout needs many
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/orvane.svg")));

    orv::CQtPlatformServices services;
    orv::COrvaneDoc doc(services.platform);
    orv::CSettings settings;
    doc.New();
    int rc = 0;
    {
        orv::CMainFrame frame(doc, settings, line.demo);
        // A layout that does not open ends the start, after the message that says why.
        if (!line.layoutFile.empty() && !frame.OpenFile(QString::fromLocal8Bit(line.layoutFile.c_str()))) {
            rc = 1;
        } else {
            services.prompter.SetParentWindow(&frame);
            // Maximised; where no window manager does that, the frame takes the screen's work area itself.
            frame.setGeometry(frame.screen()->availableGeometry());
            frame.showMaximized();
            rc = app.exec();
            services.prompter.SetParentWindow(nullptr);
        }
    }
    // The document drains the FTP queue as it goes: its worker must not wait for the ended event loop.
    services.prompter.Detach();
    return rc;
}
