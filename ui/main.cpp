// Start-up: the command line, a display check, the document, the main window, the event loop.
#include <QApplication>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "net/udpsocket.h"
#include "ui/commandline.h"
#include "ui/mainwindow.h"
#include "ui/qtplatform.h"
#include "ui/settings.h"

namespace {
// Writes once how long the program took to paint the layout for the first time.
class CFirstFrame : public QObject {
public:
    explicit CFirstFrame(QElapsedTimer& clock) : m_clock(clock) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, this, [this] { std::fprintf(stderr, "first frame: %lld ms\n", m_clock.elapsed()); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer& m_clock;
    bool m_done = false;
};

bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;  // the caller chose a platform, offscreen for instance
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}
}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer started;
    started.start();
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
    // From the moment the event loop ends, a worker's call can no longer be served on the main thread.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&services] { services.prompter.Detach(); });
    orv::CSettings settings;
    doc.New();
    int rc = 0;
    {
        orv::CMainFrame frame(doc, settings, line.demo);
        CFirstFrame firstFrame(started);
        if (line.firstFrame) frame.LayoutView()->viewport()->installEventFilter(&firstFrame);
        // A layout that does not open ends the start, after the message that says why.
        if (!line.layoutFile.empty() && !frame.OpenFile(QString::fromLocal8Bit(line.layoutFile.c_str()))) {
            rc = 1;
        } else {
            services.prompter.SetParentWindow(&frame);
            // Maximised; where no window manager does that, the frame takes the screen's work area itself.
            frame.setGeometry(frame.screen()->availableGeometry());
            frame.showMaximized();
            if (line.fit) QTimer::singleShot(0, frame.LayoutView(), &orv::COrvaneView::FitLayout);
            rc = app.exec();
            services.prompter.SetParentWindow(nullptr);
        }
    }
    // Also when the loop never ran: the document stops the FTP worker as it goes, and that worker must
    // not wait for a loop that has ended.
    services.prompter.Detach();
    return rc;
}
