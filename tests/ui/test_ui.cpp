// The Qt side of the platform seam and the main window, on Qt's offscreen platform: socket readiness
// reaches objects on the main thread, the window's timer drives the document's tick, messages asked
// from a worker thread are shown on the main thread while the worker waits.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <thread>

#include "core/commonobject.h"
#include "document/document.h"
#include "net/outputcontrol.h"
#include "sim/udppeer.h"
#include "ui/mainwindow.h"
#include "ui/qtplatform.h"
#include "ui/settings.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until done() or the limit.
bool ProcessUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class Probe : public CCommonObject {
public:
    using CCommonObject::CCommonObject;
    const char* ClassName() const override { return "CProbe"; }
    std::uint16_t Schema() const override { return 1; }
    void OnPacket(std::span<const std::uint8_t> datagram) override {
        received.emplace_back(reinterpret_cast<const char*>(datagram.data()), datagram.size());
    }
    std::vector<std::string> received;
};

TEST(QtSeam, SocketNotifierDeliversDatagramsToTheObject) {
    CQtPlatformServices services;
    COutputSocketControl output;
    sim::CUdpPeer peer;
    auto probe = std::make_unique<Probe>(services.platform);
    probe->host = "127.0.0.1";
    probe->port = static_cast<std::uint32_t>(peer.Port());
    probe->output = &output;
    probe->CreateSocket();
    probe->SendOutOfBand("details");
    output.RunWindow();
    auto query = peer.Receive(2s);
    ASSERT_TRUE(query);
    ASSERT_TRUE(peer.SendTo(query->from, std::string(4, '\xFF') + "mAnswer"));
    ASSERT_TRUE(ProcessUntil([&] { return !probe->received.empty(); }));
    EXPECT_EQ(probe->received[0], std::string(4, '\xFF') + "mAnswer");
    // After the object is gone, a late datagram to its old port reaches nobody (no notifier is left behind
    // for the closed descriptor).
    const int oldPort = probe->Socket()->LocalPort();
    probe.reset();
    peer.SendTo(oldPort, std::string(4, '\xFF') + "late");
    QApplication::processEvents(QEventLoop::AllEvents, 50);
}

struct Counter : IDocumentView {
    void OnUpdate(int hint) override {
        if (hint == kHintRefresh) ++refreshes;
    }
    int refreshes = 0;
};

TEST(MainFrame, TimerDrivesTheTickAndTheWindowShowsTheLayout) {
    CQtPlatformServices services;
    COrvaneDoc doc(services.platform);
    doc.New();
    Counter counter;
    doc.AddView(&counter);
    QTemporaryDir dir;
    CSettings settings(dir.filePath("orvane.ini"));
    CMainFrame frame(doc, settings);
    frame.show();
    ASSERT_TRUE(ProcessUntil([&] { return counter.refreshes >= 2; }, 5000));
    doc.RemoveView(&counter);
}

TEST(QtSeam, MessageFromAWorkerIsShownOnTheMainThreadWhileTheWorkerWaits) {
    CQtPrompter prompter;
    std::atomic<bool> returned{false};
    bool shownOnMain = false;
    // Close the box as soon as it appears, noting the thread it appeared on.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownOnMain = box->thread() == QApplication::instance()->thread() && box->text() == "From the worker";
            box->accept();
        }
    });
    closer.start(20);
    std::thread worker([&] {
        prompter.Message("From the worker");
        returned = true;
    });
    ASSERT_TRUE(ProcessUntil([&] { return returned.load(); }, 10000));
    worker.join();
    EXPECT_TRUE(shownOnMain);
}

TEST(QtSeam, AfterTheEventLoopEndedWorkersNoLongerWaitForTheMainThread) {
    CQtPrompter prompter;
    prompter.Detach();
    // No event loop runs here: a worker's message and question must return on their own.
    bool answer = true;
    std::thread worker([&] {
        prompter.Message("Late FTP error");
        answer = prompter.AskYesNo("Late question");
    });
    worker.join();
    EXPECT_FALSE(answer);
}

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
