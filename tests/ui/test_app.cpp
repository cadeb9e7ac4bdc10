// The application window on Qt's offscreen platform: the control panel's command history; the dialogs'
// checks and what they hand the document; a whole run of the window against loopback peers of every kind
// (its timer drives the tick, the panel kicks and records), saved back byte for byte. The layout view:
// pixels of the off-screen picture, the real widget driven by synthesized mouse events, context menus, a
// drop seen at a loopback peer, screenshots. The Qt side of the platform seam (socket readiness, messages
// asked from a worker thread).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <set>
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
#include "ui/view/findbar.h"
#include "ui/view/layoutpainter.h"
#include "ui/view/orvaneview.h"

namespace orv {
namespace {

// Calls answer with the next modal dialog of type W (or with every one), from inside its event loop.
template <class W>
std::unique_ptr<QTimer> OnModal(std::function<void(W*)> answer, bool every = false) {
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [t = timer.get(), answer, every] {
        if (auto* w = dynamic_cast<W*>(QApplication::activeModalWidget())) {
            if (!every) t->stop();
            answer(w);
        }
    });
    timer->start(10);
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
struct WindowTest : ::testing::Test, Window<> {};

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

// The commands a peer accepted that kick or record, in order.
template <class Peer>
std::vector<std::string> Driven(Peer& peer) {
    std::vector<std::string> out;
    for (auto& c : peer.AcceptedCommands())
        if (c.starts_with("kick") || c.find("record") != std::string::npos) out.push_back(c);
    return out;
}

TEST_F(WindowTest, HistoryKeepsFiftyDistinctCommandsAndWalksWithUpAndDown) {
    Select(doc, AddLoopback(doc, CObjectKind::HLServer, 9));
    QLineEdit* edit = panel.CommandEdit();
    QSignalSpy beeps(&panel, &CControlView::historyStart);
    QTest::keyClick(edit, Qt::Key_Up);               // nothing to go back to: a beep
    for (const char* text : {"status", "status"}) {  // sent by Return, kept once
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    EXPECT_EQ(std::tuple(panel.History().count, edit->text(), beeps.count()), std::tuple(1, "", 1));
    for (int i = 1; i <= 50; ++i) {
        edit->setText(QStringLiteral("say %1").arg(i));
        panel.Send();
    }
    // The keys work from the lists too; fifty Ups go back to the first "say" ("status" went), the next beeps.
    for (auto [widget, key, text] : {std::tuple<QWidget*, Qt::Key, QString>{edit, Qt::Key_Up, "say 50"},
                                     {panel.chat, Qt::Key_Up, "say 49"},
                                     {edit, Qt::Key_Down, "say 50"},
                                     {edit, Qt::Key_Down, ""}}) {
        QTest::keyClick(widget, key);
        EXPECT_EQ(edit->text(), text);
    }
    for (int i = 0; i < 51; ++i) panel.HistoryUp();
    EXPECT_EQ(std::tuple(edit->text(), beeps.count()), std::tuple("say 1", 2));
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
TEST_F(WindowTest, DialogsHandEachFieldToTheDocumentAndARefusalKeepsThemOpen) {
    doc.lastAddress = "127.0.0.1";
    auto trigger = [&](const char* action) { return [this, action] { frame.Action(action)->trigger(); }; };
    // A range of proxies closes as with OK when both its checks fail, and adds nothing; both are reported.
    EXPECT_TRUE(Answer<CRangeDialog>(trigger("actionAddHLTVRange"), [](CRangeDialog* d) {
        d->addressFrom->setText("127.0.0.9");
        d->portFrom->setText("27021");
    }));
    // A range of one adds one proxy, reached at its own address (both ends start from the last address).
    Answer<CRangeDialog>(trigger("actionAddHLTVRange"), [](CRangeDialog* d) { d->common.group->setCurrentIndex(1); });
    ASSERT_EQ(doc.objects.size(), 1u);
    auto* hltv = static_cast<CHLTV*>(doc.objects[0]);
    EXPECT_EQ(std::tuple(hltv->port, hltv->group, hltv->ExternalAddressString()),
              std::tuple(27020u, doc.groups[1], "127.0.0.1:27020"));
    // Properties keep address and port and store the rest.
    Select(doc, hltv);
    Answer<CObjectDialog>(
        [&] { frame.ObjectProperties(); },
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
              std::tuple("127.0.0.1:27020", "other", doc.groups[2], "203.0.113.7:27099"));
    // Preferences show kbps and store them times 1024; a refused limit keeps the dialog open.
    EXPECT_TRUE(Answer<CPreferencesDialog>(trigger("actionPreferences"), [](CPreferencesDialog* d) {
        EXPECT_EQ(d->limit->text(), "10");
        d->limit->setText("1");
        d->accept();
        EXPECT_TRUE(d->isVisible());  // refused: stays open
        d->limit->setText("3");
        d->sound->setChecked(false);
        d->metrics->setText("server.example:9815");
        d->accept();
        EXPECT_TRUE(d->isVisible());
        d->metrics->setText("127.0.0.1:0");
    }));
    EXPECT_EQ(std::tuple(doc.output.WindowBudget(), doc.sound.sound.enabled),
              std::tuple(static_cast<int>(3072 * 0.0125), 0));  // 3072 bits per second
    // The metrics endpoint: kept in the settings, served at once with a first snapshot.
    EXPECT_EQ(settings.Get(CSettings::kMetricsAddress), "127.0.0.1:0");
    ASSERT_TRUE(frame.Metrics().Running());
    EXPECT_NE(frame.Metrics().Latest()->find("orvane_object_state{kind=\"CHLTV\""), std::string::npos);
    // A limit from outside the range (a file's) is kept exactly; a figure below the layout's needs is warned.
    doc.output.SetLimit(960);
    EXPECT_TRUE(Answer<CPreferencesDialog>(trigger("actionPreferences"), [](CPreferencesDialog* d) {
        EXPECT_EQ(std::tuple(d->limit->text(), d->warning->text().isEmpty()), std::tuple("0", false));
        d->limit->setText("100");
        EXPECT_TRUE(d->warning->text().isEmpty());
        d->limit->setText("0");
        d->sound->setChecked(true);
    }));
    EXPECT_EQ(std::tuple(doc.output.GetLimit(), doc.sound.sound.enabled), std::tuple(960, 1));
    // The page's interval is shown fixed; a refused one is enabled and focused for correction.
    EXPECT_TRUE(Answer<CVuzuVedDialog>(trigger("actionVuzuVed"), [](CVuzuVedDialog* d) {
        EXPECT_FALSE(d->interval->isEnabled());
        d->interval->setText("5");
        d->accept();
        EXPECT_EQ(d->focusWidget(), d->interval);
        d->interval->setText("30");
    }));
    Answer<CAddGroupDialog>(trigger("actionAddGroup"), [](CAddGroupDialog* d) {
        EXPECT_EQ(d->zone->currentText(), "Internet");  // the last zone
        d->name->setText("Casters");
    });
    EXPECT_EQ(std::tuple(doc.groups.size(), doc.groups.Tail()->name, doc.groups.Tail()->level, doc.groups.Tail()->zone),
              std::tuple(4u, "Casters", 1, doc.zones[1]));  // the first choice is level 1
    doc.selectedObject = nullptr;
    doc.objects.Clear();
    doc.groups.Clear();
    doc.zones.Clear();
    Answer<CAddGroupDialog>(trigger("actionAddGroup"), [](auto*) { ADD_FAILURE() << "no zone: the message only"; });
    EXPECT_EQ(prompter.messages,
              (std::vector<std::string>{"Invalid address range. Only the last byte may differ",
                                        "Invalid port specification. PortFROM must be lower than PortTO",
                                        "Please enter an integer between 2 and 100000.",
                                        "Metrics 'server.example:9815': the address must be a dotted IPv4 address "
                                        "or localhost (HOST:PORT)",
                                        "Please enter an integer between 10 and 99999999.",
                                        "You must define at least one Zone before any group creation"}));
}

// A drag ends without a drop on Escape, a lost focus or a message box (which takes the release): the click
// that follows drops nothing where it lands. New during a drag: the view lets go of the old layout first
// (AddressSanitizer watches the paint that follows).
TEST_F(WindowTest, ADragEndsWithoutADropWhenInterruptedAndNewReleasesIt) {
    sim::CHLPeer server, other;
    sim::CHLTVPeer proxy;
    CCommonObject* hl = AddLoopback(doc, CObjectKind::HLServer, server.Port(), 0);
    CCommonObject* elsewhere = AddLoopback(doc, CObjectKind::HLServer, other.Port(), 0);
    auto* tv = static_cast<CHLTV*>(AddLoopback(doc, CObjectKind::HLTV, proxy.Port(), 1));
    frame.show();
    auto* view = frame.findChild<COrvaneView*>();
    QWidget* area = view->viewport();
    auto at = [](CCommonObject* o) { return QPoint(o->box.left + 5, o->box.top + 5); };
    auto drag = [&] {
        std::tie(tv->state, tv->challenge) = std::tuple(CCommonObject::kStateRcon, 123456789);
        QTest::mousePress(area, Qt::LeftButton, {}, at(tv));
        QTest::mouseMove(area, at(hl));
        return view->Dragging();
    };
    QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    const std::function<void()> interruptions[] = {
        [&] { QTest::keyClick(view, Qt::Key_Escape); },
        [&] { QApplication::sendEvent(view, &focusOut); },
        [&] {
            auto ok = OnModal<QMessageBox>([](QMessageBox* box) { box->accept(); });
            QMessageBox::information(nullptr, "Orvane", "Connect failed");
        },
    };
    for (size_t i = 0; i < std::size(interruptions); ++i) {
        ASSERT_TRUE(drag());
        interruptions[i]();
        EXPECT_FALSE(view->Dragging()) << i;
        QTest::mouseClick(area, Qt::LeftButton, {}, at(elsewhere));
    }
    ASSERT_TRUE(drag());  // the first connect the proxy hears is that of a real drop
    QTest::mouseRelease(area, Qt::LeftButton, {}, at(hl));
    ASSERT_TRUE(test::WaitFor([&] { return !proxy.Connects().empty(); }));
    EXPECT_EQ(proxy.Connects(), std::vector<std::string>{hl->AddressString()});
    ASSERT_TRUE(drag());
    doc.SetModifiedFlag(false);
    frame.Action("actionFileNew")->trigger();
    QTest::mouseMove(area, {60, 60});
    view->grab();
    EXPECT_FALSE(view->Dragging());
}

// Ports are 1 to 65535; above 256 objects a range asks first, above the cap it is refused; it lays out once.
TEST_F(WindowTest, RangesTakePortsOnlyAskBeforeManyObjectsRefuseTooManyAndLayOutOnce) {
    struct : IDocumentView {
        int layouts = 0;
        void OnUpdate(int hint) override { layouts += hint == kHintLayoutChanged; }
    } counter;
    doc.AddView(&counter);
    doc.lastAddress = "127.0.0.1";
    prompter.yesNoAnswers = {false, true};
    auto range = [&](const char* from, const char* to) {
        return Answer<CRangeDialog>([&] { frame.Action("actionAddHLServerRange")->trigger(); },
                                    [&](CRangeDialog* d) {
                                        d->portFrom->setText(from);
                                        d->portTo->setText(to);
                                    });
    };
    ASSERT_FALSE(range("0", "1"));
    ASSERT_FALSE(range("1", "65536"));
    for (auto [from, to] : {std::pair{"1", "4097"}, {"30000", "30256"}, {"30000", "30256"}})
        EXPECT_TRUE(range(from, to));
    EXPECT_EQ(std::tuple(doc.objects.size(), counter.layouts, prompter.questions),
              std::tuple(257u, 1, std::vector<std::string>(2, "Add 257 objects?")));  // No, then Yes
    EXPECT_EQ(prompter.messages,
              (std::vector<std::string>{"Please enter an integer between 1 and 65535.",
                                        "Please enter an integer between 1 and 65535.",
                                        "Cannot add 4097 objects at once: a range adds at most 4096."}));
    doc.RemoveView(&counter);
}

// What the layout file keeps marks the layout modified: the title shows it and closing asks.
TEST_F(WindowTest, EveryChangeTheFileKeepsMarksTheLayoutModified) {
    CCommonObject* server = AddLoopback(doc, CObjectKind::HLServer, 9);
    CCommonObject* gtv = AddLoopback(doc, CObjectKind::GTV, 10, 2);
    auto menu = [&](CZone* zone, CCommonObject* object, const char* item) {
        std::tie(doc.selectedZone, doc.selectedObject) = std::tuple(zone, object);
        std::unique_ptr<QMenu> popup(frame.findChild<COrvaneView*>()->CreateContextMenu());
        for (QAction* a : popup->actions())
            if (a->text() == item) a->trigger();
    };
    const std::function<void()> commands[] = {
        [&] { menu(doc.zones[0], nullptr, "&Properties"); },
        [&] { menu(nullptr, server, "Password..."); },
        [&] { menu(nullptr, gtv, "Gtv_password"); },
        [&] {
            Answer<CNetDetectDialog>([&] { frame.Action("actionGtvAutodetect")->trigger(); },
                                     [](CNetDetectDialog* d) { d->exportToWeb->setChecked(true); });
        },
        [&] {
            Answer<CPreferencesDialog>([&] { frame.Action("actionPreferences")->trigger(); },
                                       [](CPreferencesDialog* d) { d->sound->setChecked(false); });
        },
    };
    int asked = 0;
    auto cancel = OnModal<QMessageBox>(
        [&](QMessageBox* box) {
            asked += box->text() == "Save changes to Untitled?";
            box->button(QMessageBox::Cancel)->click();
        },
        true);
    for (size_t i = 0; i < std::size(commands); ++i) {
        doc.SetModifiedFlag(false);
        prompter.inputAnswers = {"typed"};
        commands[i]();
        EXPECT_TRUE(frame.isWindowModified()) << i;
        EXPECT_FALSE(frame.close()) << i;  // asked, and cancelled
    }
    EXPECT_EQ(std::tuple(asked, doc.zones[0]->name, server->password, gtv->password, doc.sound.sound.enabled),
              std::tuple(5, "typed", "typed", "typed", 0));
}

// Network detection is never on without a zone: its dialog refuses it, New switches it off with its zone,
// and a module left so by a file says it once, not every second.
TEST_F(WindowTest, NetworkDetectionWithoutAZoneIsRefusedSwitchedOffByNewAndReportedOnce) {
    auto autodetect = [&] {
        return Answer<CNetDetectDialog>([&] { frame.Action("actionGtvAutodetect")->trigger(); },
                                        [](CNetDetectDialog* d) { d->enabled->setChecked(true); });
    };
    auto ticks = [&] {
        for (int i = 0; i < 3; ++i) doc.Tick();
        return std::tuple(doc.networkDetect.enabled, prompter.messages.size());
    };
    autodetect();
    doc.SetModifiedFlag(false);
    frame.Action("actionFileNew")->trigger();
    EXPECT_EQ(ticks(), std::tuple(0, 0u));
    doc.networkDetect.enabled = 1;  // as a file whose zone is gone leaves it
    EXPECT_EQ(ticks(), std::tuple(1, 1u));
    autodetect();
    EXPECT_EQ(ticks(), std::tuple(1, 1u));
    doc.networkDetect.enabled = 0;
    doc.groups.Clear();
    doc.zones.Clear();
    EXPECT_FALSE(autodetect());
    EXPECT_EQ(prompter.messages.back(), CNetDetectDialog::kNoZoneRefusal);
}

// Groups of level 0 or whose zone is gone (files written before the dialogs checked them) load where a
// dialog could have put them: laid out, drawn and reachable.
TEST_F(WindowTest, GroupsOutsideTheDialogsRangeAreBroughtIntoItOnLoad) {
    AddLoopback(doc, CObjectKind::HLServer, 9, 0);
    AddLoopback(doc, CObjectKind::HLServer, 10, 1);
    CZone gone("Gone", 1);
    gone.id = 99;
    std::tie(doc.groups[0]->level, doc.groups[1]->zone) = std::tuple(0, &gone);
    const QString path = dir.filePath("old.orv");
    test::WriteFile(FromQString(path), doc.SaveToBytes());
    doc.groups[1]->zone = doc.zones[0];
    ASSERT_TRUE(frame.OpenFile(path));
    for (auto& g : doc.groups) EXPECT_TRUE(g->level >= 1 && g->level <= 5 && g->zone) << g->name;
    for (auto& o : doc.objects) EXPECT_GT(o->box.Width(), 0) << o->AddressString();
}

TEST_F(WindowTest, EveryMenuCommandHasItsOwnMnemonic) {
    QString bar;
    for (QAction* menuAction : frame.menuBar()->actions()) {
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.FilePath() == path; }));
    EXPECT_EQ(std::tuple(frame.windowTitle(), frame.isWindowModified(), w.settings.RecentFiles()),
              std::tuple("event.orv[*] - Orvane", false, QStringList{path}));
    ASSERT_EQ(doc.objects.size(), 4u);
    CCommonObject* server = doc.objects[0];
    auto* proxy = static_cast<CHLTV*>(doc.objects[1]);
    const auto rcon = [](auto& o) { return o->state == CCommonObject::kStateRcon; };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return server->GetPlayerNameCount() == 2 && std::all_of(doc.objects.begin(), doc.objects.end(), rcon); },
        30000));
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
    EXPECT_EQ(
        std::tuple(panel.mode->text(), panel.kick->text(), panel.kick->isEnabled(), panel.startRecord->isEnabled(),
                   panel.players->topLevelItemCount(), panel.neededBandwidth->toolTip(), panel.neededBandwidth->text(),
                   panel.roundTrip->text().startsWith("RTT ")),
        std::tuple("Rcon Controled", "Kick", true, false, 2, QString(),
                   QStringLiteral("Needed : %1 kbps").arg((doc.NeededRate() + 1023) / 1024), true));
    doc.output.SetLimit(8);  // below what one server needs
    doc.UpdateAllViews(kHintRefresh);
    EXPECT_EQ(FromQString(panel.neededBandwidth->toolTip()), doc.OutputRateWarning(doc.NeededRate()));
    doc.output.SetLimit(COutputSocketControl::kDefaultLimit);
    panel.players->setCurrentItem(panel.players->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    panel.KickOrFollow();  // a current row that is not selected: nothing
    panel.players->setCurrentItem(panel.players->topLevelItem(1));
    panel.KickOrFollow();
    panel.KickOrFollow();
    EXPECT_EQ(questions, QStringList({"Save changes to Untitled?", "Are you sure you want to kick Bob ?",
                                      "Are you sure you want to kick Bob ?"}));
    // The proxy records under a clean name (the blank and the slash go); a cancelled name records nothing.
    Select(doc, proxy);
    EXPECT_EQ(std::tuple(panel.mode->text(), panel.kick->isEnabled()), std::tuple("Rcon Controled", false));
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return Driven(hl).size() + Driven(hltv).size() >= 4; }, 10000));
    EXPECT_EQ(std::tuple(Driven(hl), Driven(hltv)),
              std::tuple(std::vector<std::string>{"kick \"Bob\""},
                         std::vector<std::string>{"record finalmap1!", "stoprecord", "stoprecording"}));
    const QString prompt = "Enter file for recording: ";  // both times with the name made of now, map and teams
    EXPECT_TRUE(initials == QStringList(2, prompt + before) || initials == QStringList(2, prompt + after))
        << FromQString(initials.join('|'));
    // A GTV proxy records only from a room in state 3 (a folded list has no selected room).
    auto* room = static_cast<CGTV*>(doc.objects[3]);
    room->expanded = 1;
    room->roomCount = 1;
    for (auto [roomState, canRecord] : {std::pair{2, false}, {4, false}, {3, true}}) {
        room->rooms[0].roomState = roomState;
        room->selectedRoom = &room->rooms[0];
        Select(doc, room);
        EXPECT_EQ(std::tuple(panel.mode->text(), panel.kick->text(), panel.startRecord->isEnabled(),
                             panel.stopRecording->isEnabled()),
                  std::tuple("Rcon Controled", "Change POV", canRecord, canRecord))
            << roomState;
    }
    room->rooms[0].playerNames[0] = "Alice";
    room->rooms[0].playerCount = 1;
    Select(doc, room);
    panel.players->setCurrentItem(panel.players->topLevelItem(0));
    panel.KickOrFollow();  // Change POV asks like Kick
    EXPECT_EQ(questions.last(), "Are you sure you want to follow Alice ?");
}

// The layout view alone.
struct ViewTest : ::testing::Test {
    test::TestPlatform env;
    COrvaneDoc doc{env.platform};
    std::unique_ptr<COrvaneView> view;

    void SetUp() override { doc.New(); }
    // An object without a socket, for the picture and the selection.
    template <class T>
    T* Add(int group, int state) {
        auto* o = static_cast<T*>(doc.objects.Append(std::make_unique<T>(env.platform)));
        o->group = doc.groups[static_cast<size_t>(group)];
        o->state = state;
        return o;
    }
    void Show() {
        view = std::make_unique<COrvaneView>(doc);
        view->resize(900, 700);
        view->show();
    }
};

TEST_F(ViewTest, PictureShowsGaugesStateIconsSelectedFrameAndRoomBandsAndRefreshEqualsARepaint) {
    auto* hl = Add<CHLServer>(0, CCommonObject::kStateMonitor);
    hl->playerNameCount = 20;
    auto* tv = Add<CHLTV>(1, CCommonObject::kStateMonitor);
    tv->outgoingBandwidth = 15.0f;
    auto* gtv = Add<CGTV>(2, CCommonObject::kStateMonitor);
    gtv->expanded = 1;
    gtv->roomCount = 3;
    gtv->rooms[1].roomState = 2;
    doc.selectedZone = doc.zones[0];
    QImage image = view::RenderLayout(doc);

    const int gauge = hl->iconRect.right + 2 + 3;  // the player gauge, full from top to bottom
    EXPECT_EQ(std::tuple(image.pixelColor(gauge, hl->iconRect.top), image.pixelColor(gauge, hl->iconRect.bottom - 1)),
              std::tuple(QColor(0, 0, 255), QColor(0, 0, 255)));
    int red = 0;  // of the bandwidth gauge: log 15 / log 1500 of 48
    for (int y = tv->iconRect.top; y < tv->iconRect.top + 48; ++y)
        red += image.pixelColor(tv->iconRect.right + 20 + 3, y) == QColor(255, 0, 0);
    EXPECT_EQ(red, 17);

    const CRect& zone = doc.zones[0]->rect;
    const int mid = (zone.top + zone.bottom) / 2;
    EXPECT_EQ(image.pixelColor(zone.left + 3, mid), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(zone.left + 4, mid), QColor(255, 255, 190));
    EXPECT_EQ(image.pixelColor(doc.zones[1]->rect.left + 1, mid), QColor(190, 190, 255));  // 1 pixel when not selected

    // Bands at 53 and 93 below the top; none for the hidden room.
    for (int y : {53, 93, 133})
        EXPECT_EQ(image.pixelColor(gtv->box.left + 3, gtv->box.top + y) == QColor(Qt::black), y != 133) << y;

    std::vector<QImage> icons;
    for (int state : {1, 2, 3}) {
        hl->state = state;
        icons.push_back(view::RenderLayout(doc).copy(hl->box.left, hl->box.top, 32, 32));
    }
    EXPECT_TRUE(icons[0] != icons[1] && icons[1] != icons[2] && icons[0] != icons[2]);

    // A refresh gives the pixels of a full repaint: the line goes, figures and the selection change, the
    // layout stays.
    tv->state = CCommonObject::kStateRcon;
    tv->linkedServer = hl;
    doc.selectedObject = tv;
    const CLayoutSize size = LayOut(doc);
    view::CViewPainter painter;
    painter.viewport.size = QSize(size.width, size.height);
    QImage shown(painter.viewport.size, QImage::Format_RGB32);
    auto refreshed = [&] {
        const QRegion changed = painter.Refresh(doc, LayOut(doc));
        QPainter p(&shown);
        painter.Paint(p, doc, size, changed);
        p.end();
        QImage whole(shown.size(), QImage::Format_RGB32);
        QPainter w(&whole);
        view::PaintLayout(w, doc, size, whole.rect(), 1.0, painter.marks);
        return shown == whole;
    };
    EXPECT_TRUE(refreshed());
    tv->linkedServer = nullptr;
    hl->playerNameCount = 9;
    gtv->clientSlots = 10;
    gtv->clients = 4;
    doc.selectedObject = hl;
    painter.marks.found = {gtv};
    EXPECT_TRUE(refreshed());
    tv->linkedServer = hl;
    EXPECT_TRUE(refreshed());
    hl->playerNameCount = 3;  // only the server's box, with the dash-dot line across it
    tv->spectatorSlots = 8;
    painter.marks.found.clear();
    EXPECT_TRUE(refreshed());

    // At a pixel ratio of 2 the state icon is drawn from its drawing at 64 x 64, not scaled up from 32.
    doc.selectedObject = nullptr;
    QImage sharp(size.width * 2, size.height * 2, QImage::Format_RGB32);
    sharp.setDevicePixelRatio(2);
    {
        QPainter p(&sharp);
        view::PaintLayout(p, doc, size, QRect(0, 0, size.width, size.height));
    }
    QImage drawn(64, 64, QImage::Format_RGB32);
    drawn.fill(Qt::white);  // the group's colour
    {
        QPainter p(&drawn);
        p.setRenderHint(QPainter::Antialiasing);
        QSvgRenderer(QStringLiteral(":/bitmaps/%1.svg").arg(view::StateBitmap(hl->state))).render(&p);
    }
    int worst = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QColor a = sharp.pixelColor(hl->box.left * 2 + x, hl->box.top * 2 + y), b = drawn.pixelColor(x, y);
            worst = std::max({worst, std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
        }
    EXPECT_LE(worst, 3);
}

// An object the layout pass did not place (it lost its group) draws no link line, from it or to it.
TEST_F(ViewTest, AnObjectNotLaidOutDrawsNoLinkLine) {
    auto* tv = Add<CHLTV>(1, CCommonObject::kStateMonitor);
    auto* hl = Add<CHLServer>(0, CCommonObject::kStateMonitor);
    for (CCommonObject* lost : std::initializer_list<CCommonObject*>{hl, tv}) {
        std::tie(hl->group, tv->group, tv->linkedServer) = std::tuple(doc.groups[0], doc.groups[1], nullptr);
        view::RenderLayout(doc);  // it had a place once
        lost->group = nullptr;
        const QImage unlinked = view::RenderLayout(doc);
        tv->linkedServer = hl;
        EXPECT_EQ(view::RenderLayout(doc), unlinked) << lost->ClassName();
    }
}

// A left click selects an object (stamping it), a group, a zone or nothing, and only a proxy in rcon
// control starts a drag. A right click selects too and shows the selection's menu (greyed items in
// brackets: those of a proxy not in rcon control) or none; the chosen item runs its document command.
TEST_F(ViewTest, ClicksSelectOnlyProxiesInControlDragAndRightClickMenusRunDocumentCommands) {
    auto* first = Add<CHLServer>(0, CCommonObject::kStateRcon);
    auto* second = Add<CHLServer>(0, CCommonObject::kStateMonitor);
    auto* tv = Add<CHLTV>(1, CCommonObject::kStateMonitor);
    Show();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, {first->box.left + 15, first->box.top + 25});
    EXPECT_EQ(std::tuple(doc.selectedObject, first->viewStamp), std::tuple(first, env.clock.now));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      {doc.groups[0]->rect.left + 3, doc.groups[0]->rect.top + 3});
    EXPECT_EQ(std::tuple(doc.selectedZone, doc.selectedObject), std::tuple(doc.groups[0], nullptr));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, {doc.zones[0]->rect.left + 3, doc.zones[0]->rect.top + 3});
    EXPECT_EQ(doc.selectedZone, doc.zones[0]);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, {view->LayoutSize().width - 3, 3});
    EXPECT_EQ(doc.selectedZone, nullptr);
    // The tooltip of an object: its name, address and round trip (none in state 1).
    first->serverName = "Final";
    first->rttMicros = first->rttSmoothedMicros = 150000;
    const auto tipAt = [&](const CCommonObject* o) {
        QHelpEvent help(QEvent::ToolTip, {o->box.left + 5, o->box.top + 5}, view->viewport()->mapToGlobal(QPoint()));
        QApplication::sendEvent(view->viewport(), &help);
        return QToolTip::text();
    };
    EXPECT_EQ(tipAt(first), "Final\n" + QString::fromStdString(first->AddressString()) +
                                "\nRTT 150.0 ms, mean 150.0 ms");
    first->state = CCommonObject::kStateTimeout;
    EXPECT_TRUE(tipAt(first).endsWith("\nNo round trip (no answer)"));
    first->state = CCommonObject::kStateRcon;
    for (CCommonObject* o : {static_cast<CCommonObject*>(first), static_cast<CCommonObject*>(tv)}) {
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, {o->box.left + 5, o->box.top + 5});
        EXPECT_FALSE(view->Dragging()) << o->ClassName();
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, {o->box.left + 5, o->box.top + 5});
    }
    auto menuAt = [&](int x, int y, const QString& choice) {
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* a : menu->actions()) {
                shown += (a->isEnabled() ? a->text() : "(" + a->text() + ")") + "|";
                if (a->text() == choice) a->trigger();
            }
            menu->close();
        });
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, {x, y});
        QApplication::processEvents();
        return shown;
    };
    EXPECT_EQ(menuAt(first->box.left + 5, first->box.top + 5, "Move Down"),
              "Delete|Password...|Move Up|Move Down|Properies|");
    EXPECT_EQ(doc.objects[0], second);
    EXPECT_EQ(menuAt(tv->box.left + 5, tv->box.top + 5, ""),
              "Delete|(Spec Password)|(Proxy Password)|Rcon Password|(Disconnect)|Move Up|Move Down|Properties|");
    EXPECT_EQ(menuAt(view->LayoutSize().width - 3, 3, ""), "");
    EXPECT_EQ(doc.selectedObject, nullptr);
}

TEST_F(ViewTest, DroppingAProxyInControlOnAServerConnectsItOtherDropsDoNothingAndDragsScroll) {
    sim::CHLPeer server;
    sim::CHLTVPeer proxy;
    CCommonObject* hl = AddLoopback(doc, CObjectKind::HLServer, server.Port(), 0);
    auto* tv = static_cast<CHLTV*>(AddLoopback(doc, CObjectKind::HLTV, proxy.Port(), 1));
    tv->state = CCommonObject::kStateRcon;
    tv->challenge = 123456789;
    for (int i = 0; i < 8; ++i) Add<CHLServer>(0, CCommonObject::kStateMonitor);  // taller than the window
    Show();
    const int x = tv->box.left + 5, y = tv->box.top + 5;
    for (QPoint end : {QPoint(x + 2, y + 2), QPoint(view->LayoutSize().width - 3, 3)}) {
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, {x, y});
        EXPECT_TRUE(view->Dragging());
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, {end.x(), end.y()});
        EXPECT_EQ(tv->linkedServer, nullptr);
    }
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, {x, y});
    QTest::mouseMove(view->viewport(), {hl->box.left + 5, hl->box.top + 5});
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, {hl->box.left + 5, hl->box.top + 5});
    EXPECT_EQ(std::tuple(view->Dragging(), tv->linkedServer), std::tuple(false, hl));
    EXPECT_TRUE(test::WaitFor([&] { return proxy.Connects() == std::vector<std::string>{hl->AddressString()}; }));
    // Beyond the window, a drag scrolls a step at a time.
    view->resize(900, 300);
    QScrollBar* bar = view->verticalScrollBar();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, {x, y});
    for (int expected : {70, 140}) {
        QTest::mouseMove(view->viewport(), {50, view->viewport()->height() + 10});
        EXPECT_EQ(bar->value(), expected);
    }
    QTest::mouseMove(view->viewport(), {50, -10});
    EXPECT_EQ(bar->value(), 70);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, {50, -10});
}

// Where a layout point shows in the view's viewport.
QPoint OnScreen(const COrvaneView& view, int x, int y) {
    return QPoint(static_cast<int>(x * view.Zoom()) - view.horizontalScrollBar()->value(),
                  static_cast<int>(y * view.Zoom()) - view.verticalScrollBar()->value());
}
QPoint OnScreen(const COrvaneView& view, const CCommonObject& o) {
    return OnScreen(view, (o.box.left + o.box.right) / 2, (o.box.top + o.box.bottom) / 2);
}
QImage Shown(COrvaneView& view) { return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The viewport paints only what it shows, with the pixels of the whole picture there: scrolled, after a
// refresh, with a link line and the selection.
TEST_F(ViewTest, ViewportPixelsEqualTheWholeLayoutsAtTheSamePlace) {
    for (int i = 0; i < 30; ++i) Add<CHLServer>(i % 3, 1 + i % 3)->serverName = "Server " + std::to_string(i);
    auto* tv = Add<CHLTV>(1, CCommonObject::kStateRcon);
    tv->linkedServer = doc.objects[12];
    doc.selectedObject = doc.objects[9];
    Show();
    const auto same = [&] {
        QApplication::processEvents();
        const QImage shown = Shown(*view), whole = view::RenderLayout(doc);
        const QPoint offset(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
        const QRect area = QRect(offset, shown.size()).intersected(whole.rect());
        return !area.isEmpty() && shown.copy(area.translated(-offset)) == whole.copy(area);
    };
    EXPECT_TRUE(same());
    view->verticalScrollBar()->setValue(600);
    EXPECT_TRUE(same());
    doc.objects[10]->serverName = "Renamed";
    doc.objects[12]->state = CCommonObject::kStateTimeout;
    doc.UpdateAllViews(kHintRefresh);
    EXPECT_TRUE(same());
}

// A click selects what lies under it at every zoom: objects (their tiles at 25 %, where the three states
// show in three colours) and a group's margin.
TEST_F(ViewTest, ClicksHitTheSameObjectsAndGroupsAtEveryZoom) {
    for (int i = 0; i < 30; ++i) Add<CHLServer>(0, 1 + i % 3);
    Show();
    for (double zoom : {0.25, 1.0, 2.0}) {
        view->SetZoom(zoom);
        for (size_t i : {0u, 1u, 2u, 24u}) {
            CCommonObject* o = doc.objects[i];
            view->ShowObject(*o);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, OnScreen(*view, *o));
            EXPECT_EQ(doc.selectedObject, o) << zoom << " " << i;
        }
        const CRect& group = doc.groups[0]->rect;
        view->verticalScrollBar()->setValue(0);
        view->horizontalScrollBar()->setValue(0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, OnScreen(*view, group.left + 6, group.top + 6));
        EXPECT_EQ(std::tuple(doc.selectedZone, doc.selectedObject), std::tuple(doc.groups[0], nullptr)) << zoom;
        if (zoom != 0.25) continue;
        const QImage shown = Shown(*view);
        std::set<QRgb> tiles;
        for (size_t i : {3u, 4u, 5u}) tiles.insert(shown.pixel(OnScreen(*view, doc.objects[i]->box.left + 20, doc.objects[i]->box.bottom - 8)));
        EXPECT_EQ(tiles.size(), 3u);
    }
}

// Half size: a drag from the proxy at the top scrolls down near the edge until its target shows, and
// drops on it.
TEST_F(ViewTest, ADragAtHalfSizeScrollsToItsTargetAndDropsOnIt) {
    sim::CHLTVPeer proxy;
    auto* tv = static_cast<CHLTV*>(AddLoopback(doc, CObjectKind::HLTV, proxy.Port(), 1));
    tv->state = CCommonObject::kStateRcon;
    tv->challenge = 123456789;
    for (int i = 0; i < 40; ++i) Add<CHLServer>(0, CCommonObject::kStateMonitor);
    CCommonObject* hl = AddLoopback(doc, CObjectKind::HLServer, 9, 0);
    Show();
    view->resize(900, 300);
    view->SetZoom(0.5);
    view->verticalScrollBar()->setValue(0);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, OnScreen(*view, *tv));
    ASSERT_TRUE(view->Dragging());
    const int edge = view->viewport()->height() - 5;
    for (int i = 0; i < 100 && OnScreen(*view, *hl).y() > edge - 30; ++i) QTest::mouseMove(view->viewport(), {300, edge});
    QTest::mouseMove(view->viewport(), OnScreen(*view, *hl));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, OnScreen(*view, *hl));
    EXPECT_EQ(std::tuple(view->verticalScrollBar()->value() > 0, tv->linkedServer), std::tuple(true, hl));
}

// Ctrl+F: typing selects the first match (a name, a map, an address) and scrolls to it, Enter and
// Shift+Enter step through the matches, Escape closes the bar; the zoom is kept in the settings.
TEST_F(WindowTest, FindSelectsAndScrollsToMatchesAndTheZoomIsASetting) {
    for (int i = 0; i < 40; ++i) {
        auto* o = static_cast<CHLServer*>(doc.objects.Append(std::make_unique<CHLServer>(platform)));
        o->group = doc.groups[0];
        o->serverName = "Server " + std::to_string(i);
    }
    static_cast<CHLServer*>(doc.objects[30])->serverName = "Grand Final";
    static_cast<CHLServer*>(doc.objects[35])->map = "de_final";
    doc.objects[5]->host = "10.1.2.3";
    doc.UpdateAllViews(kHintLayoutChanged);
    frame.show();
    COrvaneView& view = *frame.LayoutView();
    CFindBar& bar = *frame.FindBar();
    const auto shown = [&](CCommonObject* o) { return view.viewport()->rect().contains(OnScreen(view, *o)); };
    frame.Action("actionFind")->trigger();
    QTest::keyClicks(bar.Edit(), "FINAL");
    EXPECT_EQ(std::tuple(bar.isVisible(), doc.selectedObject, bar.Matches().size(), shown(doc.objects[30])),
              std::tuple(true, doc.objects[30], 2u, true));
    for (auto [modifier, expected] : {std::pair{Qt::NoModifier, 35}, {Qt::ShiftModifier, 30}, {Qt::ShiftModifier, 35}}) {
        QTest::keyClick(bar.Edit(), Qt::Key_Return, modifier);
        EXPECT_EQ(std::tuple(doc.selectedObject, shown(doc.objects[static_cast<size_t>(expected)])),
                  std::tuple(doc.objects[static_cast<size_t>(expected)], true));
    }
    bar.Edit()->clear();
    QTest::keyClicks(bar.Edit(), "10.1.2");
    EXPECT_EQ(doc.selectedObject, doc.objects[5]);
    QTest::keyClick(bar.Edit(), Qt::Key_Escape);
    EXPECT_EQ(std::tuple(bar.isVisible(), bar.Matches().size()), std::tuple(false, 0u));
    frame.Action("actionZoomOut")->trigger();
    EXPECT_EQ(std::tuple(view.Zoom(), settings.Get(CSettings::kViewZoom)), std::tuple(0.9, 0.9));
}

// A screenshot is a whole JPEG of the layout or nothing; printing puts the picture on the page.
TEST_F(ViewTest, ScreenshotIsAWholeJpegOfTheLayoutOrNothingAndPrintFillsAPage) {
    Add<CHLServer>(0, CCommonObject::kStateMonitor);
    Show();
    env.clock.now = 1796481000;  // 2026-12-05 14:30 UTC, the fake clock's local time
    test::TempDir dir;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.path.string())));
    EXPECT_TRUE(view->TakeScreenshot());
    // A minute later the name is taken by a folder: the save fails and leaves nothing behind.
    env.clock.now += 60;
    std::filesystem::create_directory(dir.path / "Orvane2026-12-05_14h31.jpg");
    EXPECT_FALSE(view->TakeScreenshot());
    QDir::setCurrent(previous);
    const QImage saved(QString::fromStdString((dir.path / "Orvane2026-12-05_14h30.jpg").string()));
    EXPECT_EQ(saved.size(), QSize(view->LayoutSize().width, view->LayoutSize().height));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path / "Orvane2026-12-05_14h31.jpg"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((dir.path / "layout.pdf").string()));
    view->PrintTo(&printer);
    EXPECT_GT(std::filesystem::file_size(dir.path / "layout.pdf"), 1000u);
}

// Readiness reaches the callback from the event loop; once a descriptor is unwatched, its datagrams are left
// alone (no notifier stays behind for an object that has gone); writability likewise.
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }));
    sockets.Unwatch(fds[0]);
    ASSERT_EQ(send(fds[1], "late", 4, 0), 4);
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(received, std::vector<std::string>{"ping"});
    // Writability (what a TCP connect waits for) is told until unwatched, beside the readable callback.
    int writable = 0;
    sockets.Watch(fds[1], [] {});
    sockets.WatchWritable(fds[1], [&] {
        if (++writable == 2) sockets.UnwatchWritable(fds[1]);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return writable == 2; }));
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(writable, 2);
    sockets.Unwatch(fds[1]);
    for (int fd : fds) close(fd);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(shownOnMain);
    prompter.Detach();
    auto late = std::async(std::launch::async, [&] {
        prompter.Message("Late FTP error");
        return prompter.AskYesNo("Late question");
    });
    EXPECT_FALSE(late.get());
    // A call posted while no loop runs any more returns when the loop's end is known; served after all, it
    // does nothing.
    CQtPrompter ending;
    auto waiting = std::async(std::launch::async, [&] { return ending.AskYesNo("Posted as the loop ended"); });
    ASSERT_TRUE(test::WaitFor([&] { return ending.WaitingCalls() == 1; }));
    ending.Detach();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(std::tuple(waiting.get(), ending.WaitingCalls()), std::tuple(false, 0));
    QApplication::processEvents();
}

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
