// The application window on Qt's offscreen platform: the control panel's command history, selection,
// kick and recording buttons; the dialogs' checks and what they hand the document; a whole run of the
// window against loopback peers of every kind (its timer drives the tick), saved back byte for byte; the
// Qt side of the platform seam (socket readiness, messages asked from a worker thread).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <future>

#include "fakes.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "sim/gtvpeer.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/q3peer.h"
#include "testutil.h"
#include "ui/commandline.h"
#include "ui/dialogs/inputbox.h"
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

// Calls answer with the next modal dialog of type W (or with every one), from inside its event loop.
template <class W>
std::unique_ptr<QTimer> OnModal(std::function<void(W*)> answer, bool every = false) {
    auto timer = std::make_unique<QTimer>();
    QTimer* t = timer.get();
    QObject::connect(t, &QTimer::timeout, [t, answer, every] {
        if (auto* w = dynamic_cast<W*>(QApplication::activeModalWidget())) {
            if (!every) t->stop();
            answer(w);
        }
    });
    t->start(10);
    return timer;
}

// The window on the fake platform (fake clock, recording prompter) or on Qt's.
template <class Services = test::TestPlatform>
struct Window : Services {
    Window() { doc.New(); }
    QTemporaryDir dir;
    COrvaneDoc doc{this->platform};
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

// How many commands a peer accepted that are (or, with prefix, begin with) command.
template <class Peer>
long Accepted(Peer& peer, const std::string& command, bool prefix = false) {
    const auto all = peer.AcceptedCommands();
    return std::count_if(all.begin(), all.end(),
                         [&](auto& c) { return prefix ? c.starts_with(command) : c == command; });
}

TEST(ControlView, HistoryKeepsFiftyDistinctCommandsAndWalksWithUpAndDown) {
    Window<> w;
    Select(w.doc, AddLoopback(w.doc, CObjectKind::HLServer, 9));
    QLineEdit* edit = w.panel.CommandEdit();
    QSignalSpy beeps(&w.panel, &CControlView::historyStart);
    QTest::keyClick(edit, Qt::Key_Up);               // nothing to go back to: a beep
    for (const char* text : {"status", "status"}) {  // sent by Return, kept once
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    EXPECT_EQ(std::tuple(w.panel.History().count, edit->text(), beeps.count()), std::tuple(1, "", 1));
    for (int i = 1; i <= 50; ++i) {
        edit->setText(QStringLiteral("say %1").arg(i));
        w.panel.Send();
    }
    EXPECT_EQ(std::tuple(w.panel.History().count, w.panel.History().text[0]),
              std::tuple(50, "say 1"));  // "status" went
    // The keys work from the lists too.
    for (auto [widget, key, text] : {std::tuple<QWidget*, Qt::Key, QString>{edit, Qt::Key_Up, "say 50"},
                                     {w.panel.chat, Qt::Key_Up, "say 49"},
                                     {edit, Qt::Key_Down, "say 50"},
                                     {edit, Qt::Key_Down, ""}}) {
        QTest::keyClick(widget, key);
        EXPECT_EQ(edit->text(), text);
    }
    for (int i = 0; i < 50; ++i) w.panel.HistoryUp();
    EXPECT_EQ(edit->text(), "say 1");
    w.panel.HistoryUp();
    EXPECT_EQ(beeps.count(), 2);
}

// Triggers open(), fills in the dialog W it shows and presses OK; false when it stayed open (then cancelled).
template <class W>
bool Answer(const std::function<void()>& open, const std::function<void(W*)>& fill) {
    bool stayed = false;
    auto timer = OnModal<W>([&](W* d) {
        fill(d);
        d->accept();
        if ((stayed = d->isVisible())) d->reject();
    });
    open();
    return !stayed;
}

// The checks themselves are the document's (test_document.cpp); here, that each field of the window's
// dialogs reaches its place (swapping two would show), and that a refused value keeps its dialog open.
TEST(Dialogs, EachFieldReachesTheDocumentAndARefusalKeepsTheDialogOpen) {
    Window<> w;
    w.doc.lastAddress = "127.0.0.1";
    auto trigger = [&](const char* action) { return [&w, action] { w.frame.Action(action)->trigger(); }; };
    // A range of proxies closes as with OK when both its checks fail, and adds nothing; both are reported.
    EXPECT_TRUE(Answer<CRangeDialog>(trigger("actionAddHLTVRange"), [](CRangeDialog* d) {
        d->addressFrom->setText("127.0.0.9");
        d->portFrom->setText("27021");
    }));
    // A range of one adds one proxy, reached at its own address (both ends start from the last address).
    Answer<CRangeDialog>(trigger("actionAddHLTVRange"), [](CRangeDialog* d) { d->common.group->setCurrentIndex(1); });
    ASSERT_EQ(w.doc.objects.size(), 1u);
    auto* hltv = dynamic_cast<CHLTV*>(w.doc.objects[0]);
    ASSERT_TRUE(hltv);
    EXPECT_EQ(std::tuple(hltv->port, hltv->group, hltv->ExternalAddressString()),
              std::tuple(27020u, w.doc.groups[1], "127.0.0.1:27020"));
    // Properties keep address and port and store the rest.
    Select(w.doc, hltv);
    Answer<CObjectDialog>(
        [&] { w.frame.ObjectProperties(); },
        [](CObjectDialog* d) {
            EXPECT_EQ(std::tuple(d->address->isEnabled(), d->port->isEnabled(), d->common.proxyPassword->isVisible(),
                                 d->common.autoRecord->isEnabled(), d->externalHost->isEnabled()),
                      std::tuple(false, false, true, false, false));  // auto record: the AdminBot module is off
            d->external->setChecked(true);
            EXPECT_TRUE(d->externalHost->isEnabled());
            d->externalHost->setText("203.0.113.7");
            d->externalPort->setText("27099");
            d->address->setText("10.9.9.9");
            d->common.rcon->setText("other");
            d->common.group->setCurrentIndex(2);
        });
    EXPECT_EQ(std::tuple(hltv->AddressString(), hltv->rconPassword, hltv->group, hltv->ExternalAddressString()),
              std::tuple("127.0.0.1:27020", "other", w.doc.groups[2], "203.0.113.7:27099"));
    // Preferences show kbps and store them times 1024; a refused limit keeps the dialog open.
    EXPECT_TRUE(Answer<CPreferencesDialog>(trigger("actionPreferences"), [](CPreferencesDialog* d) {
        EXPECT_EQ(d->limit->text(), "10");
        d->limit->setText("1");
        d->accept();
        EXPECT_TRUE(d->isVisible());
        d->limit->setText("3");
        d->sound->setChecked(false);
    }));
    EXPECT_EQ(std::tuple(w.doc.output.WindowBudget(), w.doc.sound.sound.enabled),
              std::tuple(static_cast<int>(3072 * 0.0125), 0));  // 3072 bits per second
    Answer<CAddGroupDialog>(trigger("actionAddGroup"), [](CAddGroupDialog* d) {
        EXPECT_EQ(d->zone->currentText(), "Internet");  // the last zone
        d->name->setText("Casters");
    });
    ASSERT_EQ(w.doc.groups.size(), 4u);
    EXPECT_EQ(std::tuple(w.doc.groups[3]->name, w.doc.groups[3]->level, w.doc.groups[3]->zone),
              std::tuple("Casters", 1, w.doc.zones[1]));  // the first choice is level 1
    w.doc.groups.Clear();
    w.doc.zones.Clear();
    w.frame.Action("actionAddGroup")->trigger();  // no dialog: the message only
    EXPECT_EQ(w.prompter.messages,
              (std::vector<std::string>{"Invalid address range. Only the last byte may differ",
                                        "Invalid port specification. PortFROM must be lower than PortTO",
                                        "Please enter an integer between 2 and 100000.",
                                        "You must define at least one Zone before any group creation"}));
}

TEST(App, EveryMenuCommandHasItsOwnMnemonic) {
    Window<> w;
    QString bar;
    for (QAction* menuAction : w.frame.menuBar()->actions()) {
        bar += menuAction->text().section('&', 1).left(1).toLower();
        QString letters;
        for (QAction* a : menuAction->menu()->actions()) {
            if (a->isSeparator() || !a->isVisible()) continue;  // unused recent-file places
            const QString letter = a->text().section('&', 1).left(1).toLower();
            EXPECT_FALSE(letter.isEmpty() || letters.contains(letter)) << FromQString(a->text());
            letters += letter;
        }
    }
    EXPECT_EQ(bar, "felomvh");
}

TEST(App, CommandLine) {
    const auto demo = ParseCommandLine({"--demo", "a.orv"});
    EXPECT_EQ(std::tuple(demo.demo, demo.layoutFile, ParseCommandLine({"--help"}).help),
              std::tuple(true, "a.orv", true));
    EXPECT_FALSE(ParseCommandLine({"--bogus"}).error.empty() || ParseCommandLine({"a.orv", "b.orv"}).error.empty());
    EXPECT_EQ(CAboutDialog::VersionLine("2.3.4"), "Rizovezezi Rodaze Orvane Version 2.3 Beta 4");
}

// The window opens a dropped layout of all four kinds (after asking about the modified one), every object
// reaches rcon control as the panel shows, the panel's kick and recording reach their peers through Qt's
// question and input boxes, and Save writes the very bytes it opened.
TEST(App, EveryKindReachesRconAndSaveWritesTheFileBackByteForByte) {
    sim::CHLPeer hl;
    hl.SetPlayers({"Alice", "Bob"});
    sim::CHLTVPeer hltv;
    sim::CQ3Peer q3;
    sim::CGTVPeer gtv;
    gtv.SetRooms({sim::GTVPeerRoom{}});
    Window<CQtPlatformServices> w;
    auto [doc, frame, panel] = std::tie(w.doc, w.frame, w.panel);
    const QString path = w.dir.filePath("event.orv");
    frame.show();
    AddLoopback(doc, CObjectKind::HLServer, hl.Port(), 0);
    AddLoopback(doc, CObjectKind::HLTV, hltv.Port(), 1);
    AddLoopback(doc, CObjectKind::Q3Server, q3.Port(), 0);
    AddLoopback(doc, CObjectKind::GTV, gtv.Port(), 2);
    ASSERT_TRUE(doc.Save(FromQString(path)));
    const auto opened = test::ReadFile(FromQString(path));
    ASSERT_TRUE(opened);
    // Every question box in turn: the save question and the first kick answered No, the rest Yes.
    QStringList questions;
    auto answer = OnModal<QMessageBox>(
        [&](QMessageBox* box) {
            questions << box->text();
            box->button(questions.size() <= 2 ? QMessageBox::No : QMessageBox::Yes)->click();
        },
        true);
    doc.SetModifiedFlag();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window: outside a real drag, the application would not route a drop.
    static_cast<QObject&>(frame).event(&drop);
    ASSERT_TRUE(ProcessUntil([&] { return frame.FilePath() == path; }));
    EXPECT_EQ(std::tuple(frame.windowTitle(), frame.isWindowModified(), w.settings.RecentFiles()),
              std::tuple("event.orv[*] - Orvane", false, QStringList{path}));
    ASSERT_EQ(doc.objects.size(), 4u);
    CCommonObject* server = doc.objects[0];
    auto* proxy = static_cast<CHLTV*>(doc.objects[1]);
    const auto rcon = [](auto& o) { return o->state == CCommonObject::kStateRcon; };
    ASSERT_TRUE(ProcessUntil(
        [&] { return server->GetPlayerNameCount() == 2 && std::all_of(doc.objects.begin(), doc.objects.end(), rcon); },
        30000));
    for (auto& o : doc.objects) {
        Select(doc, o.get());
        EXPECT_EQ(panel.mode->text(), "Rcon Controled") << o->ClassName();
    }
    // The console list stays at its newest line.
    for (int i = 0; i < CConsoleLog::kCapacity; ++i) server->AppendConsole("line " + std::to_string(i));
    Select(doc, server);
    ASSERT_EQ(panel.chat->topLevelItemCount(), CConsoleLog::kCapacity);
    QApplication::processEvents();
    const QRect last = panel.chat->visualItemRect(panel.chat->topLevelItem(CConsoleLog::kCapacity - 1));
    EXPECT_TRUE(panel.chat->viewport()->rect().contains(last)) << last.y();
    doc.SetModifiedFlag();
    frame.Action("actionFileSave")->trigger();
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(test::ReadFile(FromQString(path)), opened);

    // Kick asks first (No sends nothing); a game server does not record.
    EXPECT_EQ(std::tuple(panel.kick->text(), panel.kick->isEnabled(), panel.startRecord->isEnabled(),
                         panel.players->topLevelItemCount(), panel.neededBandwidth->toolTip()),
              std::tuple("Kick", true, false, 2, QString()));
    EXPECT_EQ(panel.neededBandwidth->text(), QStringLiteral("Needed : %1 kbps").arg((doc.NeededRate() + 1023) / 1024));
    doc.output.SetLimit(8);  // below what one server needs
    doc.UpdateAllViews(kHintRefresh);
    EXPECT_EQ(FromQString(panel.neededBandwidth->toolTip()), doc.OutputRateWarning());
    doc.output.SetLimit(COutputSocketControl::kDefaultLimit);
    panel.KickOrFollow();  // no row chosen: nothing
    panel.players->setCurrentItem(panel.players->topLevelItem(1));
    panel.KickOrFollow();
    panel.KickOrFollow();
    EXPECT_EQ(questions, QStringList({"Save changes to Untitled?", "Are you sure you want to kick Bob ?",
                                      "Are you sure you want to kick Bob ?"}));
    // The proxy records under a clean name (the blank and the slash go); a cancelled name records nothing.
    Select(doc, proxy);
    EXPECT_FALSE(panel.kick->isEnabled());
    QStringList initials;
    const QString before = ToQString(proxy->RecordingFileName());
    auto name = OnModal<CInputBox>(
        [&](CInputBox* box) {
            initials << box->findChild<QLabel*>("prompt")->text() + ": " + box->findChild<QLineEdit*>("value")->text();
            box->findChild<QLineEdit*>("value")->setText("final map/1!");
            initials.size() == 1 ? box->reject() : box->accept();
        },
        true);
    panel.StartRecord();
    panel.StartRecord();
    const QString after = ToQString(proxy->RecordingFileName());
    panel.StopRecording();
    ASSERT_TRUE(ProcessUntil(
        [&] { return Accepted(hl, "kick \"Bob\"") && Accepted(hltv, "stoprecord") && Accepted(hltv, "stoprecording"); },
        10000))
        << testing::PrintToString(hl.AcceptedCommands()) << testing::PrintToString(hltv.AcceptedCommands());
    EXPECT_EQ(
        std::tuple(Accepted(hl, "kick", true), Accepted(hltv, "record", true), Accepted(hltv, "record finalmap1!")),
        std::tuple(1, 1, 1));
    ASSERT_EQ(initials.size(), 2);
    EXPECT_TRUE(initials[1] == "Enter file for recording: " + before ||
                initials[1] == "Enter file for recording: " + after)
        << FromQString(initials[1]);
    // A GTV proxy records only from a room in state 3 (a folded list has no selected room).
    auto* room = static_cast<CGTV*>(doc.objects[3]);
    room->expanded = 1;
    room->roomCount = 1;
    for (auto [roomState, canRecord] : {std::pair{2, false}, {4, false}, {3, true}}) {
        room->rooms[0].roomState = roomState;
        room->selectedRoom = &room->rooms[0];
        Select(doc, room);
        EXPECT_EQ(std::tuple(panel.kick->text(), panel.startRecord->isEnabled(), panel.stopRecording->isEnabled()),
                  std::tuple("Change POV", canRecord, canRecord))
            << roomState;
    }
}

// Readiness reaches the callback from the event loop; once a descriptor is unwatched, its datagrams are left
// alone (no notifier stays behind for an object that has gone).
TEST(QtSeam, SocketNotifierReportsReadinessUntilUnwatched) {
    CQtSocketWatcher sockets;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, fds), 0);
    std::vector<std::string> received;
    sockets.Watch(fds[0], [&] {
        char buffer[16];
        received.emplace_back(buffer, std::max(recv(fds[0], buffer, sizeof buffer, MSG_DONTWAIT), ssize_t{0}));
    });
    ASSERT_EQ(send(fds[1], "ping", 4, 0), 4);
    ASSERT_TRUE(ProcessUntil([&] { return !received.empty(); }));
    sockets.Unwatch(fds[0]);
    ASSERT_EQ(send(fds[1], "late", 4, 0), 4);
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(received, std::vector<std::string>{"ping"});
    close(fds[0]);
    close(fds[1]);
}

// A message asked from a worker is shown on the main thread while the worker waits; once the event loop
// has ended (Detach), a worker's message and question return on their own.
TEST(QtSeam, WorkerMessagesAreShownOnTheMainThreadUntilDetached) {
    CQtPrompter prompter;
    bool shownOnMain = false;
    auto close = OnModal<QMessageBox>([&](QMessageBox* box) {
        shownOnMain = box->thread() == QApplication::instance()->thread() && box->text() == "From the worker";
        box->accept();
    });
    auto worker = std::async(std::launch::async, [&] { prompter.Message("From the worker"); });
    ASSERT_TRUE(ProcessUntil([&] { return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(shownOnMain);
    prompter.Detach();
    auto late = std::async(std::launch::async, [&] {
        prompter.Message("Late FTP error");
        return prompter.AskYesNo("Late question");
    });
    EXPECT_FALSE(late.get());
}

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
