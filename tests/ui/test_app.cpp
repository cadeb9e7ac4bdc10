// The application window on Qt's offscreen platform: the control panel's command history, selection,
// kick and recording buttons; the dialogs' checks and what they hand the document; a whole run of the
// window against loopback peers of every kind (its timer drives the tick), saved back byte for byte; the
// Qt side of the platform seam (socket readiness, messages asked from a worker thread).
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "sim/gtvpeer.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/q3peer.h"
#include "sim/udppeer.h"
#include "ui/commandline.h"
#include "ui/dialogs/layoutdialogs.h"
#include "ui/dialogs/moduledialogs.h"
#include "ui/dialogs/objectdialogs.h"
#include "ui/mainwindow.h"
#include "ui/panel/controlview.h"
#include "ui/qtplatform.h"
#include "ui/settings.h"

namespace orv {
namespace {

bool ProcessUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Calls answer with the next modal dialog of type W, from inside its event loop.
template <class W>
std::unique_ptr<QTimer> OnNextModal(std::function<void(W*)> answer) {
    auto timer = std::make_unique<QTimer>();
    QTimer* t = timer.get();
    QObject::connect(t, &QTimer::timeout, [t, answer] {
        if (auto* w = dynamic_cast<W*>(QApplication::activeModalWidget())) {
            t->stop();
            answer(w);
        }
    });
    t->start(10);
    return timer;
}

// Fake clock and recording prompter, real socket notifiers.
struct UiPlatform {
    test::FakeClock clock;
    test::RecordingPrompter prompter;
    test::RecordingSound sound;
    CQtSocketWatcher sockets;
    CPlatform platform{clock, prompter, sound, sockets};
};

struct Window {
    explicit Window(CPlatform& platform) : doc(platform) { doc.New(); }
    QTemporaryDir dir;
    COrvaneDoc doc;
    CSettings settings{dir.filePath("orvane.ini")};
    CMainFrame frame{doc, settings};
    CControlView& panel = *frame.ControlView();
};

CCommonObject* AddLoopback(COrvaneDoc& doc, CObjectKind kind, int port, size_t group = 0) {
    CObjectValues v;
    v.host = "127.0.0.1";
    v.port = static_cast<std::uint32_t>(port);
    v.group = doc.groups[group];
    v.rconPassword = "secret";
    return doc.AddObjectOfKind(kind, v);
}

void Select(COrvaneDoc& doc, CCommonObject* object) {
    doc.selectedObject = object;
    doc.UpdateAllViews(kHintRefresh);
}

// Ticks the document whenever its queue is empty (no backlog ahead of a command) until done().
bool TickUntil(COrvaneDoc& doc, const std::function<bool()>& done) {
    return ProcessUntil([&] { return (doc.output.Count() == 0 && (doc.Tick(), false)) || done(); }, 10000);
}

// How many commands a peer accepted that are (or, with prefix, begin with) command.
template <class Peer>
long Accepted(Peer& peer, const std::string& command, bool prefix = false) {
    const auto all = peer.AcceptedCommands();
    return std::count_if(all.begin(), all.end(), [&](auto& c) { return prefix ? c.starts_with(command) : c == command; });
}

TEST(ControlView, HistoryKeepsFiftyDistinctCommandsAndWalksWithUpAndDown) {
    UiPlatform p;
    Window w(p.platform);
    Select(w.doc, AddLoopback(w.doc, CObjectKind::HLServer, 9));
    QLineEdit* edit = w.panel.CommandEdit();
    QSignalSpy beeps(&w.panel, &CControlView::historyStart);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(beeps.count(), 1);  // nothing to go back to
    for (int round = 0; round < 2; ++round) {
        edit->setText("status");
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_TRUE(edit->text().isEmpty());
    }
    EXPECT_EQ(w.panel.History().count, 1);
    for (int i = 1; i <= 50; ++i) {
        edit->setText(QStringLiteral("say %1").arg(i));
        w.panel.Send();
    }
    EXPECT_EQ(std::tuple(w.panel.History().count, w.panel.History().text[0]), std::tuple(50, "say 1"));  // "status" went
    // The keys work from the lists too.
    for (auto [widget, key, text] : {std::tuple<QWidget*, Qt::Key, QString>{edit, Qt::Key_Up, "say 50"},
                                     {w.panel.chat, Qt::Key_Up, "say 49"}, {edit, Qt::Key_Down, "say 50"},
                                     {edit, Qt::Key_Down, ""}}) {
        QTest::keyClick(widget, key);
        EXPECT_EQ(edit->text(), text);
    }
    for (int i = 0; i < 50; ++i) w.panel.HistoryUp();
    EXPECT_EQ(edit->text(), "say 1");
    w.panel.HistoryUp();
    EXPECT_EQ(beeps.count(), 2);
}

TEST(ControlView, KickAsksThenReachesTheServer) {
    UiPlatform p;
    Window w(p.platform);
    sim::CHLPeer peer;
    peer.SetPlayers({"Alice", "Bob"});
    CCommonObject* server = AddLoopback(w.doc, CObjectKind::HLServer, peer.Port());
    Select(w.doc, server);
    ASSERT_TRUE(TickUntil(w.doc, [&] { return server->state == CCommonObject::kStateRcon && server->GetPlayerNameCount() == 2; }));
    w.doc.UpdateAllViews(kHintRefresh);
    EXPECT_EQ(std::tuple(w.panel.kick->text(), w.panel.kick->isEnabled(), w.panel.startRecord->isEnabled(),
                         w.panel.players->topLevelItemCount()),
              std::tuple("Kick", true, false, 2));  // a game server does not record
    EXPECT_EQ(w.panel.neededBandwidth->text(), QStringLiteral("Needed : %1 kbps").arg((w.doc.NeededRate() + 1023) / 1024));
    EXPECT_TRUE(w.panel.neededBandwidth->toolTip().isEmpty());
    w.doc.output.SetLimit(8);  // below what one server needs
    w.doc.UpdateAllViews(kHintRefresh);
    EXPECT_EQ(FromQString(w.panel.neededBandwidth->toolTip()), w.doc.OutputRateWarning());
    w.doc.output.SetLimit(COutputSocketControl::kDefaultLimit);

    w.panel.KickOrFollow();  // no row chosen: nothing
    EXPECT_TRUE(p.prompter.questions.empty());
    w.panel.players->setCurrentItem(w.panel.players->topLevelItem(1));
    p.prompter.yesNoAnswers = {false, true};
    w.panel.KickOrFollow();
    w.panel.KickOrFollow();
    ASSERT_EQ(p.prompter.questions.size(), 2u);
    EXPECT_EQ(p.prompter.questions[0], "Are you sure you want to kick Bob ?");
    ASSERT_TRUE(ProcessUntil([&] { return Accepted(peer, "kick \"Bob\"") > 0; }, 10000))
        << testing::PrintToString(peer.AcceptedCommands()) << testing::PrintToString(peer.RefusedCommands());
    EXPECT_EQ(Accepted(peer, "kick", true), 1);  // the No sent nothing
}

TEST(ControlView, HLTVRecordsUnderACleanNameAndStopsBothWaysGTVOnlyFromARoomInState3) {
    UiPlatform p;
    Window w(p.platform);
    sim::CHLTVPeer peer;
    auto* hltv = static_cast<CHLTV*>(AddLoopback(w.doc, CObjectKind::HLTV, peer.Port(), 1));
    Select(w.doc, hltv);
    ASSERT_TRUE(TickUntil(w.doc, [&] { return hltv->state == CCommonObject::kStateRcon; }));
    w.doc.UpdateAllViews(kHintRefresh);
    EXPECT_FALSE(w.panel.kick->isEnabled());
    ASSERT_TRUE(w.panel.startRecord->isEnabled());
    p.prompter.inputAnswers = {std::string("final map/1!")};  // the blank and the slash go
    w.panel.StartRecord();
    ASSERT_EQ(p.prompter.prompts, std::vector<std::string>{"Enter file for recording"});
    EXPECT_EQ(p.prompter.initials[0], hltv->RecordingFileName());
    w.panel.StopRecording();
    EXPECT_TRUE(ProcessUntil([&] {
        return Accepted(peer, "record finalmap1!") && Accepted(peer, "stoprecord") && Accepted(peer, "stoprecording");
    }));
    // A GTV proxy records only from a room in state 3.
    auto* gtv = static_cast<CGTV*>(AddLoopback(w.doc, CObjectKind::GTV, 9, 2));
    gtv->state = CCommonObject::kStateRcon;
    gtv->expanded = 1;  // a folded list has no selected room
    gtv->roomCount = 1;
    for (auto [roomState, canRecord] : {std::pair{2, false}, {4, false}, {3, true}}) {
        gtv->rooms[0].roomState = roomState;
        gtv->selectedRoom = &gtv->rooms[0];
        Select(w.doc, gtv);
        EXPECT_EQ(std::tuple(w.panel.kick->text(), w.panel.startRecord->isEnabled(), w.panel.stopRecording->isEnabled()),
                  std::tuple("Change POV", canRecord, canRecord))
            << roomState;
    }
}

// The checks themselves are the document's (test_document.cpp); here, that each field reaches its place:
// swapping either pair would make the row valid.
TEST(Dialogs, RangeChecksAddressesAndPortsAndReportsBoth) {
    test::RecordingPrompter prompter;
    CRangeDialog dialog({"LAN Local/Servers"}, -1, "10.0.0.5", 27015, {}, {}, prompter);
    EXPECT_EQ(dialog.addressFrom->text(), "10.0.0.5");  // from the last address
    dialog.addressFrom->setText("10.0.0.9");
    dialog.portFrom->setText("27020");
    dialog.accept();
    ASSERT_TRUE(dialog.Result());  // closes as with OK
    EXPECT_EQ(std::tuple(dialog.Result()->range.valid, prompter.messages),
              std::tuple(false, std::vector<std::string>{"Invalid address range. Only the last byte may differ",
                                                         "Invalid port specification. PortFROM must be lower than PortTO"}));
}

TEST(Dialogs, RangeOfOneAddsOneProxyReachedAtItsOwnAddress) {
    UiPlatform p;
    Window w(p.platform);
    w.doc.lastAddress = "127.0.0.1";
    auto answer = OnNextModal<CRangeDialog>([](CRangeDialog* d) {
        d->common.group->setCurrentIndex(1);
        d->accept();
    });
    w.frame.Action("actionAddHLTVRange")->trigger();
    ASSERT_EQ(w.doc.objects.size(), 1u);
    auto* hltv = dynamic_cast<CHLTV*>(w.doc.objects[0]);
    ASSERT_TRUE(hltv);
    EXPECT_EQ(std::tuple(hltv->port, hltv->group, hltv->ExternalAddressString()),
              std::tuple(27020u, w.doc.groups[1], "127.0.0.1:27020"));
}

TEST(Dialogs, PreferencesShowKbpsAndStoreTimes1024AndAddGroupNeedsAZone) {
    UiPlatform p;
    Window w(p.platform);
    auto answer = OnNextModal<CPreferencesDialog>([&](CPreferencesDialog* d) {
        EXPECT_EQ(d->limit->text(), "10");
        d->limit->setText("1");
        d->accept();  // refused: stays open
        EXPECT_TRUE(d->isVisible());
        d->limit->setText("3");
        d->sound->setChecked(false);
        d->accept();
    });
    w.frame.Action("actionPreferences")->trigger();
    EXPECT_EQ(std::tuple(w.doc.output.WindowBudget(), w.doc.sound.sound.enabled),
              std::tuple(static_cast<int>(3072 * 0.0125), 0));  // 3072 bits per second
    auto group = OnNextModal<CAddGroupDialog>([](CAddGroupDialog* d) {
        EXPECT_EQ(d->zone->currentText(), "Internet");  // the last zone
        d->name->setText("Casters");
        d->accept();
    });
    w.frame.Action("actionAddGroup")->trigger();
    ASSERT_EQ(w.doc.groups.size(), 4u);
    EXPECT_EQ(std::tuple(w.doc.groups[3]->name, w.doc.groups[3]->level, w.doc.groups[3]->zone),
              std::tuple("Casters", 1, w.doc.zones[1]));  // the first choice is level 1
    w.doc.groups.Clear();
    w.doc.zones.Clear();
    w.frame.Action("actionAddGroup")->trigger();  // no dialog: the message only
    EXPECT_EQ(p.prompter.messages, (std::vector<std::string>{"Please enter an integer between 2 and 100000.",
                                                             "You must define at least one Zone before any group creation"}));
}

TEST(Dialogs, PropertiesKeepAddressAndPortAndStoreTheRest) {
    UiPlatform p;
    Window w(p.platform);
    CCommonObject* hltv = AddLoopback(w.doc, CObjectKind::HLTV, 9);
    static_cast<CHLTV*>(hltv)->externalHost = "127.0.0.1";
    static_cast<CHLTV*>(hltv)->externalPort = 9;
    Select(w.doc, hltv);
    auto answer = OnNextModal<CObjectDialog>([](CObjectDialog* d) {
        EXPECT_FALSE(d->address->isEnabled());
        EXPECT_FALSE(d->port->isEnabled());
        EXPECT_TRUE(d->common.proxyPassword->isVisible());
        EXPECT_FALSE(d->common.autoRecord->isEnabled());  // the AdminBot module is off
        EXPECT_FALSE(d->externalHost->isEnabled());
        d->external->setChecked(true);
        EXPECT_TRUE(d->externalHost->isEnabled());
        d->externalHost->setText("203.0.113.7");
        d->externalPort->setText("27099");
        d->address->setText("10.9.9.9");
        d->common.rcon->setText("other");
        d->common.group->setCurrentIndex(2);
        d->accept();
    });
    w.frame.ObjectProperties();
    EXPECT_EQ(std::tuple(hltv->AddressString(), hltv->rconPassword, hltv->group,
                         static_cast<CHLTV*>(hltv)->ExternalAddressString()),
              std::tuple("127.0.0.1:9", "other", w.doc.groups[2], "203.0.113.7:27099"));
}

TEST(App, EveryMenuCommandHasItsOwnMnemonic) {
    UiPlatform p;
    Window w(p.platform);
    QString bar;
    for (QAction* menuAction : w.frame.menuBar()->actions()) {
        bar += menuAction->text().section('&', 1).left(1).toLower();
        QString letters;
        for (QAction* a : menuAction->menu()->actions()) {
            if (a->isSeparator() || !a->isVisible()) continue;  // unused recent-file places
            const QString letter = a->text().section('&', 1).left(1).toLower();
            EXPECT_FALSE(letter.isEmpty()) << FromQString(a->text());
            EXPECT_FALSE(letters.contains(letter)) << FromQString(a->text());
            letters += letter;
        }
    }
    EXPECT_EQ(bar, "felomvh");
}

TEST(App, CommandLine) {
    const auto demo = ParseCommandLine({"--demo", "a.orv"});
    EXPECT_EQ(std::tuple(demo.demo, demo.layoutFile, ParseCommandLine({"--help"}).help), std::tuple(true, "a.orv", true));
    EXPECT_FALSE(ParseCommandLine({"--bogus"}).error.empty() || ParseCommandLine({"a.orv", "b.orv"}).error.empty());
    EXPECT_EQ(CAboutDialog::VersionLine("2.3.4"), "Rizovezezi Rodaze Orvane Version 2.3 Beta 4");
}

// The window opens a layout of all four kinds, every object reaches rcon control as the panel shows,
// and Save writes the very bytes it opened.
TEST(App, EveryKindReachesRconAndSaveWritesTheFileBackByteForByte) {
    sim::CHLPeer hl;
    sim::CHLTVPeer hltv;
    sim::CQ3Peer q3;
    sim::CGTVPeer gtv;
    gtv.SetRooms({sim::GTVPeerRoom{}});
    QTemporaryDir dir;
    const QString path = dir.filePath("event.orv");
    {
        UiPlatform p;
        COrvaneDoc author(p.platform);
        author.New();
        AddLoopback(author, CObjectKind::HLServer, hl.Port(), 0);
        AddLoopback(author, CObjectKind::HLTV, hltv.Port(), 1);
        AddLoopback(author, CObjectKind::Q3Server, q3.Port(), 0);
        AddLoopback(author, CObjectKind::GTV, gtv.Port(), 2);
        ASSERT_TRUE(author.Save(FromQString(path)));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray opened = file.readAll();
    file.close();

    CQtPlatformServices services;
    COrvaneDoc doc(services.platform);
    doc.New();
    CSettings settings(dir.filePath("orvane.ini"));
    CMainFrame frame(doc, settings);
    frame.show();
    ASSERT_TRUE(frame.OpenFile(path));
    EXPECT_EQ(std::tuple(frame.windowTitle(), frame.isWindowModified(), settings.RecentFiles()),
              std::tuple("event.orv[*] - Orvane", false, QStringList{path}));
    ASSERT_EQ(doc.objects.size(), 4u);
    ASSERT_TRUE(ProcessUntil(
        [&] {
            for (auto& o : doc.objects)
                if (o->state != CCommonObject::kStateRcon) return false;
            return true;
        },
        30000));
    for (auto& o : doc.objects) {
        Select(doc, o.get());
        EXPECT_EQ(frame.ControlView()->mode->text(), "Rcon Controled") << o->ClassName();
    }
    // The console list stays at its newest line.
    QTreeWidget* chat = frame.ControlView()->chat;
    for (int i = 0; i < CConsoleLog::kCapacity; ++i) doc.objects[0]->AppendConsole("line " + std::to_string(i));
    Select(doc, doc.objects[0]);
    ASSERT_EQ(chat->topLevelItemCount(), CConsoleLog::kCapacity);
    QApplication::processEvents();
    const QRect last = chat->visualItemRect(chat->topLevelItem(chat->topLevelItemCount() - 1));
    EXPECT_TRUE(chat->viewport()->rect().contains(last)) << last.y() << " " << chat->topLevelItemCount();
    doc.SetModifiedFlag();
    frame.Action("actionFileSave")->trigger();
    EXPECT_FALSE(doc.IsModified());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), opened);
}

TEST(App, ADroppedLayoutIsOpenedAfterTheSaveQuestion) {
    UiPlatform p;
    Window w(p.platform);
    QTemporaryDir dir;
    const QString path = dir.filePath("dropped.orv");
    ASSERT_TRUE(w.doc.Save(FromQString(path)));
    w.doc.SetModifiedFlag();
    QString question;
    auto answer = OnNextModal<QMessageBox>([&](QMessageBox* box) {
        question = box->text();
        box->button(QMessageBox::No)->click();
    });
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window: outside a real drag, the application would not route a drop.
    static_cast<QObject&>(w.frame).event(&drop);
    ASSERT_TRUE(ProcessUntil([&] { return w.frame.FilePath() == path; }));
    EXPECT_EQ(question, "Save changes to Untitled?");
    EXPECT_EQ(w.frame.windowTitle(), "dropped.orv[*] - Orvane");
}

class Probe : public CCommonObject {
public:
    using CCommonObject::CCommonObject;
    const char* ClassName() const override { return "CProbe"; }
    std::uint16_t Schema() const override { return 1; }
    void OnPacket(std::span<const std::uint8_t> d) override { received.emplace_back(d.begin(), d.end()); }
    std::vector<std::string> received;
};

// Readiness reaches the object on the main thread; after the object is gone, a late datagram to its old
// port reaches nobody (no notifier is left behind for the closed descriptor).
TEST(QtSeam, SocketNotifierDeliversDatagramsToTheObject) {
    using namespace std::chrono_literals;
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
    const int oldPort = probe->Socket()->LocalPort();
    probe.reset();
    peer.SendTo(oldPort, std::string(4, '\xFF') + "late");
    QApplication::processEvents(QEventLoop::AllEvents, 50);
}

// A message asked from a worker is shown on the main thread while the worker waits; once the event loop
// has ended (Detach), a worker's message and question return on their own.
TEST(QtSeam, WorkerMessagesAreShownOnTheMainThreadUntilDetached) {
    CQtPrompter prompter;
    std::atomic<bool> returned{false};
    bool shownOnMain = false;
    auto close = OnNextModal<QMessageBox>([&](QMessageBox* box) {
        shownOnMain = box->thread() == QApplication::instance()->thread() && box->text() == "From the worker";
        box->accept();
    });
    std::thread worker([&] {
        prompter.Message("From the worker");
        returned = true;
    });
    ASSERT_TRUE(ProcessUntil([&] { return returned.load(); }, 10000));
    worker.join();
    EXPECT_TRUE(shownOnMain);
    prompter.Detach();
    bool answer = true;
    std::thread late([&] {
        prompter.Message("Late FTP error");
        answer = prompter.AskYesNo("Late question");
    });
    late.join();
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
