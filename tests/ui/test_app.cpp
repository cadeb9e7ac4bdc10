// The application window on Qt's offscreen platform: the control panel's command history, selection,
// kick and recording buttons; the dialogs' checks and what they hand the document; a whole run of the
// window against loopback peers of every kind, saved back byte for byte.
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
#include <functional>
#include <memory>

#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "sim/gtvpeer.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/q3peer.h"
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

TEST(ControlView, HistoryKeepsFiftyDistinctCommandsAndWalksWithUpAndDown) {
    UiPlatform p;
    Window w(p.platform);
    EXPECT_EQ(w.panel.ftpQueue->text(), "FTP Queue : 0 jobs left");
    EXPECT_EQ(w.panel.hostName->text(), "---");
    EXPECT_TRUE(w.panel.mode->text().isEmpty());
    EXPECT_FALSE(w.panel.send->isEnabled());

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
    ASSERT_EQ(w.panel.History().count, 50);
    EXPECT_EQ(w.panel.History().text[0], "say 1");  // "status" was pushed out
    EXPECT_EQ(w.panel.HistoryCursor(), 50);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "say 50");
    QTest::keyClick(w.panel.chat, Qt::Key_Up);  // the keys work from the lists too
    EXPECT_EQ(edit->text(), "say 49");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text(), "say 50");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_TRUE(edit->text().isEmpty());
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
    ASSERT_TRUE(ProcessUntil(
        [&] {
            if (w.doc.output.Count() == 0) w.doc.Tick();  // no backlog ahead of the kick
            return server->state == CCommonObject::kStateRcon && server->GetPlayerNameCount() == 2;
        },
        10000));
    w.doc.UpdateAllViews(kHintRefresh);
    EXPECT_EQ(w.panel.mode->text(), "Rcon Controled");
    EXPECT_EQ(w.panel.kick->text(), "Kick");
    EXPECT_TRUE(w.panel.kick->isEnabled());
    EXPECT_FALSE(w.panel.startRecord->isEnabled());  // a game server does not record
    EXPECT_FALSE(w.panel.stopRecording->isEnabled());
    ASSERT_EQ(w.panel.players->topLevelItemCount(), 2);
    EXPECT_EQ(w.panel.neededBandwidth->text(),
              QStringLiteral("Needed : %1 kbps").arg((w.doc.NeededRate() + 1023) / 1024));
    EXPECT_TRUE(w.panel.neededBandwidth->toolTip().isEmpty());
    w.doc.output.SetLimit(8);  // below what one server needs
    w.doc.UpdateAllViews(kHintRefresh);
    EXPECT_EQ(FromQString(w.panel.neededBandwidth->toolTip()), w.doc.OutputRateWarning());
    EXPECT_FALSE(w.panel.neededBandwidth->toolTip().isEmpty());
    w.doc.output.SetLimit(COutputSocketControl::kDefaultLimit);

    w.panel.KickOrFollow();  // no row chosen: nothing
    EXPECT_TRUE(p.prompter.questions.empty());
    w.panel.players->setCurrentItem(w.panel.players->topLevelItem(1));
    p.prompter.yesNoAnswers = {false, true};
    w.panel.KickOrFollow();
    w.panel.KickOrFollow();
    ASSERT_EQ(p.prompter.questions.size(), 2u);
    EXPECT_EQ(p.prompter.questions[0], "Are you sure you want to kick Bob ?");
    ASSERT_TRUE(ProcessUntil(
        [&] {
            for (const auto& c : peer.AcceptedCommands())
                if (c == "kick \"Bob\"") return true;
            return false;
        },
        10000))
        << testing::PrintToString(peer.AcceptedCommands()) << testing::PrintToString(peer.RefusedCommands());
    size_t kicks = 0;
    for (const auto& c : peer.AcceptedCommands()) kicks += c.rfind("kick", 0) == 0;
    EXPECT_EQ(kicks, 1u);  // the No sent nothing
}

TEST(ControlView, HLTVRecordsUnderACleanNameAndStopsBothWays) {
    UiPlatform p;
    Window w(p.platform);
    sim::CHLTVPeer peer;
    auto* hltv = static_cast<CHLTV*>(AddLoopback(w.doc, CObjectKind::HLTV, peer.Port(), 1));
    Select(w.doc, hltv);
    ASSERT_TRUE(ProcessUntil(
        [&] {
            if (w.doc.output.Count() == 0) w.doc.Tick();
            return hltv->state == CCommonObject::kStateRcon;
        },
        10000));
    w.doc.UpdateAllViews(kHintRefresh);
    EXPECT_FALSE(w.panel.kick->isEnabled());
    ASSERT_TRUE(w.panel.startRecord->isEnabled());
    p.prompter.inputAnswers = {std::string("final map/1!")};  // the blank and the slash go
    w.panel.StartRecord();
    ASSERT_EQ(p.prompter.prompts, std::vector<std::string>{"Enter file for recording"});
    EXPECT_EQ(p.prompter.initials[0], hltv->RecordingFileName());
    w.panel.StopRecording();
    const auto sent = [&](const std::string& command) {
        const auto accepted = peer.AcceptedCommands();
        return std::find(accepted.begin(), accepted.end(), command) != accepted.end();
    };
    EXPECT_TRUE(ProcessUntil([&] { return sent("record finalmap1!") && sent("stoprecord") && sent("stoprecording"); }));
}

TEST(ControlView, GTVRecordsOnlyFromARoomInState3) {
    UiPlatform p;
    Window w(p.platform);
    auto* gtv = static_cast<CGTV*>(AddLoopback(w.doc, CObjectKind::GTV, 9, 2));
    gtv->state = CCommonObject::kStateRcon;
    gtv->expanded = 1;  // a folded list has no selected room
    gtv->roomCount = 1;
    gtv->selectedRoom = &gtv->rooms[0];
    const struct {
        int roomState;
        bool canRecord;
    } rows[] = {{2, false}, {4, false}, {3, true}};
    for (const auto& row : rows) {
        gtv->rooms[0].roomState = row.roomState;
        gtv->selectedRoom = &gtv->rooms[0];
        Select(w.doc, gtv);
        EXPECT_EQ(w.panel.kick->text(), "Change POV");
        EXPECT_EQ(w.panel.startRecord->isEnabled(), row.canRecord) << row.roomState;
        EXPECT_EQ(w.panel.stopRecording->isEnabled(), row.canRecord) << row.roomState;
    }
}

TEST(Dialogs, RangeChecksAddressesAndPortsAndReportsBoth) {
    const struct {
        const char *from, *to;
        const char *firstPort, *lastPort;
        bool valid;
        std::vector<std::string> messages;
    } rows[] = {
        {"10.0.0.5", "10.0.0.5", "27015", "27015", true, {}},
        {"10.0.0.9", "10.0.0.5", "27015", "27015", false, {"Invalid address range. Only the last byte may differ"}},
        {"10.0.1.5", "10.0.0.9", "27015", "27015", false, {"Invalid address range. Only the last byte may differ"}},
        {"10.0.0.1",
         "10.0.0.3",
         "27020",
         "27015",
         false,
         {"Invalid port specification. PortFROM must be lower than PortTO"}},
        {"10.0.1.5",
         "10.0.0.9",
         "27020",
         "27015",
         false,
         {"Invalid address range. Only the last byte may differ",
          "Invalid port specification. PortFROM must be lower than PortTO"}},
    };
    for (const auto& row : rows) {
        test::RecordingPrompter prompter;
        CRangeDialog dialog({"LAN Local/Servers"}, -1, "10.0.0.5", 27015, {}, {}, prompter);
        EXPECT_EQ(dialog.addressFrom->text(), "10.0.0.5");  // from the last address
        dialog.addressFrom->setText(row.from);
        dialog.addressTo->setText(row.to);
        dialog.portFrom->setText(row.firstPort);
        dialog.portTo->setText(row.lastPort);
        dialog.accept();
        ASSERT_TRUE(dialog.Result()) << row.from;  // closes as with OK in every case
        EXPECT_EQ(dialog.Result()->range.valid, row.valid) << row.from;
        EXPECT_EQ(prompter.messages, row.messages) << row.from;
        EXPECT_EQ(dialog.Result()->groupIndex, 0);
    }
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
    EXPECT_EQ(hltv->port, 27020u);
    EXPECT_EQ(hltv->group, w.doc.groups[1]);
    EXPECT_EQ(hltv->ExternalAddressString(), "127.0.0.1:27020");
}

TEST(Dialogs, PreferencesShowKbpsAndStoreTimes1024) {
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
    EXPECT_EQ(p.prompter.messages, std::vector<std::string>{"Please enter an integer between 2 and 100000."});
    EXPECT_EQ(w.doc.output.WindowBudget(), static_cast<int>(3072 * 0.0125));  // 3072 bits per second
    EXPECT_EQ(w.doc.sound.sound.enabled, 0);
}

TEST(Dialogs, AddGroupNeedsAZoneAndTakesTheLevelShown) {
    UiPlatform p;
    Window w(p.platform);
    auto answer = OnNextModal<CAddGroupDialog>([](CAddGroupDialog* d) {
        EXPECT_EQ(d->zone->currentText(), "Internet");  // the last zone
        d->name->setText("Casters");
        d->accept();
    });
    w.frame.Action("actionAddGroup")->trigger();
    ASSERT_EQ(w.doc.groups.size(), 4u);
    EXPECT_EQ(w.doc.groups[3]->name, "Casters");
    EXPECT_EQ(w.doc.groups[3]->level, 1);  // the first choice is level 1
    EXPECT_EQ(w.doc.groups[3]->zone, w.doc.zones[1]);

    w.doc.groups.Clear();
    w.doc.zones.Clear();
    w.frame.Action("actionAddGroup")->trigger();  // no dialog: the message only
    EXPECT_EQ(p.prompter.messages,
              std::vector<std::string>{"You must define at least one Zone before any group creation"});
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
    EXPECT_EQ(hltv->AddressString(), "127.0.0.1:9");
    EXPECT_EQ(hltv->rconPassword, "other");
    EXPECT_EQ(hltv->group, w.doc.groups[2]);
    EXPECT_EQ(static_cast<CHLTV*>(hltv)->ExternalAddressString(), "203.0.113.7:27099");
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
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"--version"}).version);
    const auto demo = ParseCommandLine({"--demo", "a.orv"});
    EXPECT_TRUE(demo.demo);
    EXPECT_EQ(demo.layoutFile, "a.orv");
    EXPECT_FALSE(ParseCommandLine({"--bogus"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"a.orv", "b.orv"}).error.empty());
    EXPECT_EQ(CAboutDialog::VersionLine("2.3.0"), "Rizovezezi Rodaze Orvane Version 2.3");
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
    EXPECT_EQ(frame.windowTitle(), "event.orv[*] - Orvane");
    EXPECT_FALSE(frame.isWindowModified());
    EXPECT_EQ(settings.RecentFiles(), QStringList{path});
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

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
