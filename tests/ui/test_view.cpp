// The layout view on Qt's offscreen platform: pixels of the off-screen picture, the real widget driven by
// synthesized mouse events, context menus, a drop seen at a loopback peer, screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMouseEvent>
#include <QPrinter>
#include <QScrollBar>
#include <QTimer>
#include <filesystem>

#include "document/document.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "tests/fakes.h"
#include "tests/testutil.h"
#include "ui/view/layoutpainter.h"
#include "ui/view/orvaneview.h"

namespace orv {
namespace {

struct ViewTest : ::testing::Test {
    test::TestPlatform env;
    COrvaneDoc doc{env.platform};
    std::unique_ptr<COrvaneView> view;

    void SetUp() override { doc.New(); }
    CGroup* Group(int i) { return doc.groups[static_cast<size_t>(i)]; }
    // An object without a socket, for the picture and the selection.
    template <class T>
    T* Add(int group, int state) {
        auto* o = static_cast<T*>(doc.objects.Append(std::make_unique<T>(env.platform)));
        o->group = Group(group);
        o->state = state;
        return o;
    }
    void Show() {
        view = std::make_unique<COrvaneView>(doc);
        view->resize(900, 700);
        view->show();
    }
    void Mouse(QEvent::Type type, Qt::MouseButton button, int x, int y) {
        const QPointF at(x, y);
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
        QMouseEvent e(type, at, view->viewport()->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &e);
    }
    void Click(Qt::MouseButton button, const CRect& r, int dx = 15, int dy = 25) {
        Mouse(QEvent::MouseButtonPress, button, r.left + dx, r.top + dy);
        Mouse(QEvent::MouseButtonRelease, button, r.left + dx, r.top + dy);
    }
};

int RedPixels(const QImage& image, int x, int top, int height) {
    int n = 0;
    for (int y = top; y < top + height; ++y) n += image.pixelColor(x, y) == QColor(255, 0, 0);
    return n;
}

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
    EXPECT_EQ(RedPixels(image, tv->iconRect.right + 20 + 3, tv->iconRect.top, 48), 17);  // log 15 / log 1500 of 48

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
    view::CLayoutPicture picture;
    picture.Repaint(doc);
    tv->linkedServer = nullptr;
    hl->playerNameCount = 9;
    gtv->clientSlots = 10;
    gtv->clients = 4;
    doc.selectedObject = hl;
    picture.Refresh(doc);
    EXPECT_EQ(picture.Image(), view::RenderLayout(doc));
    tv->linkedServer = hl;
    picture.Refresh(doc);
    EXPECT_EQ(picture.Image(), view::RenderLayout(doc));
    hl->playerNameCount = 3;  // only the server's box, with the dash-dot line across it
    tv->spectatorSlots = 8;
    picture.Refresh(doc);
    EXPECT_EQ(picture.Image(), view::RenderLayout(doc));
}

// A left click selects an object (stamping it), a group, a zone or nothing, and only a proxy in rcon
// control starts a drag. A right click selects too and shows the selection's menu (greyed items in
// brackets: those of a proxy not in rcon control) or none; the chosen item runs its document command.
TEST_F(ViewTest, ClicksSelectOnlyProxiesInControlDragAndRightClickMenusRunDocumentCommands) {
    auto* first = Add<CHLServer>(0, CCommonObject::kStateRcon);
    auto* second = Add<CHLServer>(0, CCommonObject::kStateMonitor);
    auto* tv = Add<CHLTV>(1, CCommonObject::kStateMonitor);
    Show();
    Click(Qt::LeftButton, first->box);
    EXPECT_EQ(std::tuple(doc.selectedObject, first->viewStamp), std::tuple(first, env.clock.now));
    Click(Qt::LeftButton, Group(0)->rect, 3, 3);
    EXPECT_EQ(std::tuple(doc.selectedZone, doc.selectedObject), std::tuple(Group(0), nullptr));
    Click(Qt::LeftButton, doc.zones[0]->rect, 3, 3);
    EXPECT_EQ(doc.selectedZone, doc.zones[0]);
    Click(Qt::LeftButton, CRect{}, view->LayoutSize().width - 3, 3);
    EXPECT_EQ(doc.selectedZone, nullptr);
    for (CCommonObject* o : {static_cast<CCommonObject*>(first), static_cast<CCommonObject*>(tv)}) {
        Mouse(QEvent::MouseButtonPress, Qt::LeftButton, o->box.left + 5, o->box.top + 5);
        EXPECT_FALSE(view->Dragging()) << o->ClassName();
        Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, o->box.left + 5, o->box.top + 5);
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
        Mouse(QEvent::MouseButtonPress, Qt::RightButton, x, y);
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
    CObjectValues v;
    v.host = "127.0.0.1";
    v.rconPassword = "secret";
    v.port = static_cast<std::uint32_t>(server.Port());
    v.group = Group(0);
    CCommonObject* hl = doc.AddObjectOfKind(CObjectKind::HLServer, v);
    v.port = static_cast<std::uint32_t>(proxy.Port());
    v.group = Group(1);
    auto* tv = static_cast<CHLTV*>(doc.AddObjectOfKind(CObjectKind::HLTV, v));
    tv->state = CCommonObject::kStateRcon;
    tv->challenge = 123456789;
    for (int i = 0; i < 8; ++i) Add<CHLServer>(0, CCommonObject::kStateMonitor);  // taller than the window
    Show();
    const int x = tv->box.left + 5, y = tv->box.top + 5;
    for (QPoint end : {QPoint(x + 2, y + 2), QPoint(view->LayoutSize().width - 3, 3)}) {
        Mouse(QEvent::MouseButtonPress, Qt::LeftButton, x, y);
        EXPECT_TRUE(view->Dragging());
        Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, end.x(), end.y());
        EXPECT_EQ(tv->linkedServer, nullptr);
    }
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, x, y);
    Mouse(QEvent::MouseMove, Qt::NoButton, hl->box.left + 5, hl->box.top + 5);
    // Updates wait for the end of the drag, then are caught up.
    const qint64 before = view->Picture().cacheKey();
    hl->serverName = "Renamed during the drag";
    doc.UpdateAllViews(kHintRefresh);
    EXPECT_EQ(view->Picture().cacheKey(), before);
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, hl->box.left + 5, hl->box.top + 5);
    EXPECT_EQ(std::tuple(view->Picture().cacheKey() != before, view->Dragging(), tv->linkedServer),
              std::tuple(true, false, hl));
    EXPECT_TRUE(test::WaitFor([&] { return proxy.Connects() == std::vector<std::string>{hl->AddressString()}; }));
    // Beyond the window, a drag scrolls a step at a time.
    view->resize(900, 300);
    QScrollBar* bar = view->verticalScrollBar();
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, x, y);
    for (int expected : {70, 140}) {
        Mouse(QEvent::MouseMove, Qt::NoButton, 50, view->viewport()->height() + 10);
        EXPECT_EQ(bar->value(), expected);
    }
    Mouse(QEvent::MouseMove, Qt::NoButton, 50, -10);
    EXPECT_EQ(bar->value(), 70);
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, 50, -10);
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

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
