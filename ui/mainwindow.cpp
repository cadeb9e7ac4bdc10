#include "ui/mainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QTimerEvent>
#include <QToolBar>
#include <QVBoxLayout>

#include "document/metrics.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "ui/dialogs/layoutdialogs.h"
#include "ui/dialogs/moduledialogs.h"
#include "ui/panel/controlview.h"
#include "ui/qtplatform.h"
#include "ui/settings.h"
#include "ui/view/findbar.h"

// The icons are compiled into this static library: register them before the first use.
static void InitOrvaneResources() {
    Q_INIT_RESOURCE(orvane);
}

namespace orv {

CMainFrame::CMainFrame(COrvaneDoc& doc, CSettings& settings, bool demo, QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_settings(settings), m_demo(demo) {
    InitOrvaneResources();
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/orvane.svg")));
    setAcceptDrops(true);
    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setChildrenCollapsible(false);
    // The top pane: the layout view with its find bar below it.
    auto* top = new QWidget(m_splitter);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setSpacing(0);
    m_view = new COrvaneView(m_doc, top);
    m_view->setObjectName(QStringLiteral("layoutView"));
    m_findBar = new CFindBar(m_doc, *m_view, top);
    topLayout->addWidget(m_view, 1);
    topLayout->addWidget(m_findBar);
    m_splitter->addWidget(top);
    // The zoom is a setting of the window, not of the layout file.
    m_view->SetZoom(m_settings.Get(CSettings::kViewZoom));
    connect(m_view, &COrvaneView::ZoomChanged, this, [this](double zoom) { m_settings.Set(CSettings::kViewZoom, zoom); });
    m_panel = new CControlView(m_doc, m_splitter);
    m_splitter->addWidget(m_panel);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    setCentralWidget(m_splitter);
    // The panel keeps 400 pixels of height as the window changes size, until the operator moves the bar.
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] { m_operatorSplit = true; });
    BuildMenus();
    // The idle text; each command's prompt covers it while the pointer is on the command.
    statusBar()->addWidget(new QLabel(QStringLiteral("Ready"), statusBar()), 1);
    resize(1024, 768);
    m_doc.AddView(this);
    m_doc.UpdateAllViews(kHintLayoutChanged);
    UpdateTitle();
    ServeMetrics(m_settings.Get(CSettings::kMetricsAddress));
    m_timer.start(kTimerPeriodMs, this);
}

CMainFrame::~CMainFrame() {
    m_doc.RemoveView(this);
}

QAction* CMainFrame::NewAction(const QString& name, const QString& text, const QString& tip, const QString& icon) {
    auto* action = new QAction(text, this);
    action->setObjectName(name);
    action->setStatusTip(tip);
    if (!icon.isEmpty()) action->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(icon)));
    return action;
}

void CMainFrame::BuildMenus() {
    // File
    QAction* fileNew = NewAction("actionFileNew", "&New", "Create a new layout", "new");
    fileNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(fileNew, &QAction::triggered, this, &CMainFrame::FileNew);
    QAction* fileOpen = NewAction("actionFileOpen", "&Open...", "Open an existing layout", "open");
    fileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(fileOpen, &QAction::triggered, this, &CMainFrame::FileOpen);
    QAction* fileSave = NewAction("actionFileSave", "&Save", "Save the layout", "save");
    fileSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(fileSave, &QAction::triggered, this, &CMainFrame::FileSave);
    QAction* fileSaveAs = NewAction("actionFileSaveAs", "Save &As...", "Save the layout with a new name");
    connect(fileSaveAs, &QAction::triggered, this, &CMainFrame::FileSaveAs);
    QAction* print = NewAction("actionFilePrint", "&Print...", "Print the layout", "print");
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    QAction* printPreview = NewAction("actionFilePrintPreview", "Print Pre&view", "Display the layout as printed");
    QAction* printSetup =
        NewAction("actionFilePrintSetup", "P&rint Setup...", "Change the printer and printing options");
    printSetup->setEnabled(false);
    QAction* preferences = NewAction("actionPreferences", "Pre&ferences...", "General preferences");
    connect(preferences, &QAction::triggered, this, &CMainFrame::Preferences);
    QAction* exitAction = NewAction("actionExit", "E&xit", "Quit Orvane; asks to save a modified layout");
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    QMenu* fileMenu = menuBar()->addMenu("&File");
    fileMenu->addActions({fileNew, fileOpen, fileSave, fileSaveAs});
    fileMenu->addSeparator();
    fileMenu->addActions({print, printPreview, printSetup});
    fileMenu->addSeparator();
    fileMenu->addAction(preferences);
    m_recentSeparator = fileMenu->addSeparator();
    for (int i = 0; i < CSettings::kRecentFiles; ++i) {
        QAction* recent = NewAction(QStringLiteral("actionRecentFile%1").arg(i + 1), {}, "Open this layout");
        connect(recent, &QAction::triggered, this, [this, recent] {
            const QString path = recent->data().toString();
            if (!SaveModified()) return;
            if (!OpenFile(path)) {
                m_settings.RemoveRecentFile(path);
                UpdateRecentMenu();
            }
        });
        m_recentActions.push_back(recent);
        fileMenu->addAction(recent);
    }
    fileMenu->addSeparator();
    fileMenu->addAction(exitAction);
    UpdateRecentMenu();

    // Edit: the control panel's command line.
    QLineEdit* command = m_panel->CommandEdit();
    QAction* undo = NewAction("actionEditUndo", "&Undo", "Undo the last change of the command line");
    undo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    connect(undo, &QAction::triggered, command, &QLineEdit::undo);
    QAction* cut = NewAction("actionEditCut", "Cu&t", "Cut the selection of the command line to the clipboard", "cut");
    cut->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    connect(cut, &QAction::triggered, command, &QLineEdit::cut);
    QAction* copy =
        NewAction("actionEditCopy", "&Copy", "Copy the selection of the command line to the clipboard", "copy");
    copy->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    connect(copy, &QAction::triggered, command, &QLineEdit::copy);
    QAction* paste = NewAction("actionEditPaste", "&Paste", "Insert the clipboard into the command line", "paste");
    paste->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    connect(paste, &QAction::triggered, command, &QLineEdit::paste);
    QAction* find = NewAction("actionFind", "&Find...", "Find a server by part of its name, address or map");
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, m_findBar, &CFindBar::Open);
    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addAction(undo);
    edit->addSeparator();
    edit->addActions({cut, copy, paste});
    edit->addSeparator();
    edit->addAction(find);

    // Layout, objects, modules.
    QAction* addZone = NewAction("actionAddZone", "Add &Zone...", "Add a zone to the layout", "addzone");
    connect(addZone, &QAction::triggered, this, &CMainFrame::AddZone);
    QAction* addGroup = NewAction("actionAddGroup", "Add &Group...", "Add a group to a zone", "addgroup");
    connect(addGroup, &QAction::triggered, this, &CMainFrame::AddGroup);
    QAction* screenshot =
        NewAction("actionTakeScreenshot", "Take &Screenshot", "Save a screenshot of the layout", "screenshot");
    // Printing and the screenshot are the layout view's.
    connect(print, &QAction::triggered, m_view, &COrvaneView::Print);
    connect(printPreview, &QAction::triggered, m_view, &COrvaneView::PrintPreview);
    connect(screenshot, &QAction::triggered, m_view, &COrvaneView::TakeScreenshot);
    connect(m_view, &COrvaneView::ObjectPropertiesRequested, this, &CMainFrame::ObjectProperties);

    struct KindActions {
        CObjectKind kind;
        const char *name, *one, *range, *oneTip, *rangeTip, *icon;
    };
    const KindActions kinds[] = {
        {CObjectKind::HLServer, "HLServer", "Add &HL Server...", "Add HL Server R&ange...", "Add a Half-Life server",
         "Add Half-Life servers over a range of addresses and ports", "addhl"},
        {CObjectKind::HLTV, "HLTV", "Add HL&TV...", "Add HLTV Ra&nge...", "Add an HLTV proxy",
         "Add HLTV proxies over a range of addresses and ports", "addhltv"},
        {CObjectKind::Q3Server, "Q3Server", "Add &Q3 Server...", "Add Q3 Server Rang&e...", "Add a Quake 3 server",
         "Add Quake 3 servers over a range of addresses and ports", "addq3"},
        {CObjectKind::GTV, "GTV", "Add &GTV...", "Add GTV &Range...", "Add a GTV proxy",
         "Add GTV proxies over a range of addresses and ports", "addgtv"},
    };
    QMenu* objectsMenu = nullptr;
    std::vector<QAction*> addOne;
    QMenu* layoutMenu = menuBar()->addMenu("&Layout");
    layoutMenu->addActions({addZone, addGroup});
    layoutMenu->addSeparator();
    layoutMenu->addAction(screenshot);
    objectsMenu = menuBar()->addMenu("&Objects");
    for (const auto& k : kinds) {
        QAction* one = NewAction(QStringLiteral("actionAdd%1").arg(k.name), k.one, k.oneTip, k.icon);
        connect(one, &QAction::triggered, this, [this, kind = k.kind] { AddObject(kind); });
        QAction* range = NewAction(QStringLiteral("actionAdd%1Range").arg(k.name), k.range, k.rangeTip);
        connect(range, &QAction::triggered, this, [this, kind = k.kind] { AddRange(kind); });
        objectsMenu->addActions({one, range});
        addOne.push_back(one);
    }
    QAction* vuzuved = NewAction("actionVuzuVed", "&VuzuVed...", "Status page generated and uploaded by FTP");
    connect(vuzuved, &QAction::triggered, this, &CMainFrame::VuzuVedConfig);
    QAction* adminbot = NewAction("actionAdminBot", "&AdminBot...", "Match tracking through AdminBot-mx");
    connect(adminbot, &QAction::triggered, this, &CMainFrame::AdminBotConfig);
    QAction* autodetect = NewAction("actionGtvAutodetect", "&GTV Autodetect...", "GTV network auto-detection");
    connect(autodetect, &QAction::triggered, this, &CMainFrame::GtvAutodetectConfig);
    QMenu* modules = menuBar()->addMenu("&Modules");
    modules->addActions({vuzuved, adminbot, autodetect});

    // View and Help.
    QToolBar* toolbar = addToolBar(QStringLiteral("Toolbar"));
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    QAction* showToolbar = toolbar->toggleViewAction();
    showToolbar->setObjectName(QStringLiteral("actionViewToolbar"));
    showToolbar->setText(QStringLiteral("&Toolbar"));
    showToolbar->setStatusTip(QStringLiteral("Show or hide the toolbar"));
    QAction* showStatus = NewAction("actionViewStatusBar", "&Status Bar", "Show or hide the status bar");
    showStatus->setCheckable(true);
    showStatus->setChecked(true);
    connect(showStatus, &QAction::toggled, statusBar(), &QWidget::setVisible);
    QAction* zoomIn = NewAction("actionZoomIn", "Zoom &In", "Show the layout larger");
    zoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connect(zoomIn, &QAction::triggered, m_view, &COrvaneView::ZoomIn);
    QAction* zoomOut = NewAction("actionZoomOut", "Zoom &Out", "Show the layout smaller");
    zoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    connect(zoomOut, &QAction::triggered, m_view, &COrvaneView::ZoomOut);
    QAction* zoomReset = NewAction("actionZoomReset", "&Actual Size", "Show the layout at 100 %");
    zoomReset->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(zoomReset, &QAction::triggered, m_view, &COrvaneView::ZoomReset);
    QAction* fit = NewAction("actionFitLayout", "&Fit Layout", "Show the whole layout");
    connect(fit, &QAction::triggered, m_view, &COrvaneView::FitLayout);
    QMenu* view = menuBar()->addMenu("&View");
    view->addActions({showToolbar, showStatus});
    view->addSeparator();
    view->addActions({zoomIn, zoomOut, zoomReset, fit});
    QAction* about = NewAction("actionAbout", "&About Orvane...", "Program information and version", "about");
    connect(about, &QAction::triggered, this, &CMainFrame::About);
    menuBar()->addMenu("&Help")->addAction(about);

    toolbar->addActions({fileNew, fileOpen, fileSave});
    toolbar->addSeparator();
    toolbar->addActions({cut, copy, paste});
    toolbar->addSeparator();
    toolbar->addAction(print);
    toolbar->addSeparator();
    toolbar->addActions({addZone, addGroup});
    toolbar->addSeparator();
    for (QAction* a : addOne) toolbar->addAction(a);
    toolbar->addSeparator();
    toolbar->addAction(screenshot);
    toolbar->addSeparator();
    toolbar->addAction(about);

    // F6 and Shift+F6 move the focus between the two panes.
    QAction* nextPane = NewAction("actionNextPane", "Next Pane", "Move to the next pane");
    nextPane->setShortcut(QKeySequence(Qt::Key_F6));
    connect(nextPane, &QAction::triggered, this, &CMainFrame::NextPane);
    QAction* previousPane = NewAction("actionPreviousPane", "Previous Pane", "Move to the previous pane");
    previousPane->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    connect(previousPane, &QAction::triggered, this, &CMainFrame::PreviousPane);
    addActions({nextPane, previousPane});
}

QAction* CMainFrame::Action(const QString& name) const {
    return findChild<QAction*>(name);
}

void CMainFrame::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timer.timerId()) {
        m_doc.Tick();
        if (m_metrics.Running())
            m_metrics.Publish(std::make_shared<const std::string>(BuildMetricsText(m_doc, CUdpSocket::BytesSentTotal())));
    } else
        QMainWindow::timerEvent(event);
}

void CMainFrame::OnUpdate(int) {
    // The title's name changes with the file only (SetCurrentFile, FileNew); an update can change the mark.
    setWindowModified(m_doc.IsModified());
}

QString CMainFrame::DocumentName() const {
    return m_path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(m_path).fileName();
}

void CMainFrame::UpdateTitle() {
    const QString name = DocumentName();
    const QString program = m_demo ? QStringLiteral("Orvane (demo)") : QStringLiteral("Orvane");
    setWindowTitle(QStringLiteral("%1[*] - %2").arg(name, program));
    setWindowModified(m_doc.IsModified());
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    PlaceSplitter();
}

void CMainFrame::PlaceSplitter() {
    if (m_operatorSplit) return;
    const int h = m_splitter->height();
    const int top = LayoutPaneHeight(h);
    m_splitter->setSizes({top, std::max(h - top, 0)});
}

void CMainFrame::NextPane() {
    if (m_view->isAncestorOf(focusWidget()) || m_view->hasFocus())
        m_panel->CommandEdit()->setFocus();
    else
        m_view->setFocus();
}

void CMainFrame::PreviousPane() {
    NextPane();
}  // two panes: the previous is the next

// ---- Layout files ----

void CMainFrame::UpdateRecentMenu() {
    const QStringList files = m_settings.RecentFiles();
    for (int i = 0; i < CSettings::kRecentFiles; ++i) {
        QAction* a = m_recentActions[static_cast<size_t>(i)];
        const bool used = i < files.size();
        a->setVisible(used);
        if (!used) continue;
        a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
        a->setData(files[i]);
    }
    m_recentSeparator->setVisible(!files.isEmpty());
}

bool CMainFrame::SaveModified() {
    if (!m_doc.IsModified()) return true;
    const auto answer =
        QMessageBox::question(this, QStringLiteral("Orvane"), QStringLiteral("Save changes to %1?").arg(DocumentName()),
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::No) return true;
    return FileSave();
}

void CMainFrame::FileNew() {
    if (!SaveModified()) return;
    m_doc.New();
    m_path.clear();
    UpdateTitle();
    m_doc.UpdateAllViews(kHintLayoutChanged);
}

void CMainFrame::FileOpen() {
    if (!SaveModified()) return;
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QFileInfo(m_path).path(), kFileFilter);
    if (!path.isEmpty()) OpenFile(path);
}

void CMainFrame::SetCurrentFile(const QString& path) {
    m_path = QFileInfo(path).absoluteFilePath();
    m_doc.SetModifiedFlag(false);
    m_settings.AddRecentFile(m_path);
    UpdateRecentMenu();
    UpdateTitle();
}

bool CMainFrame::OpenFile(const QString& path) {
    if (!m_doc.Open(FromQString(path))) return false;
    SetCurrentFile(path);
    m_doc.UpdateAllViews(kHintLayoutChanged);
    return true;
}

bool CMainFrame::SaveFile(const QString& path) {
    if (!m_doc.Save(FromQString(path))) return false;
    SetCurrentFile(path);
    return true;
}

bool CMainFrame::FileSave() {
    return m_path.isEmpty() ? FileSaveAs() : SaveFile(m_path);
}

bool CMainFrame::FileSaveAs() {
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save As"),
                                                m_path.isEmpty() ? QStringLiteral("Orvane.orv") : m_path, kFileFilter);
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".orv");
    return SaveFile(path);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!SaveModified()) {
        event->ignore();
        return;
    }
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().first().isLocalFile()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    // Opened once the drop has finished, so that the questions and messages are not inside it.
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (SaveModified()) OpenFile(path);
        },
        Qt::QueuedConnection);
}

// ---- What the dialogs show of the layout ----

std::vector<std::string> CMainFrame::GroupLabels() const {
    std::vector<std::string> labels;
    for (auto& g : m_doc.groups) labels.push_back((g->zone ? g->zone->name : std::string()) + "/" + g->name);
    return labels;
}

std::vector<std::string> CMainFrame::ZoneNames() const {
    std::vector<std::string> names;
    for (auto& z : m_doc.zones) names.push_back(z->name);
    return names;
}

CGroup* CMainFrame::GroupAt(int index) const {
    return index >= 0 && index < static_cast<int>(m_doc.groups.size()) ? m_doc.groups[static_cast<size_t>(index)]
                                                                       : nullptr;
}

CZone* CMainFrame::ZoneAt(int index) const {
    return index >= 0 && index < static_cast<int>(m_doc.zones.size()) ? m_doc.zones[static_cast<size_t>(index)]
                                                                      : nullptr;
}

int CMainFrame::GroupIndex(const CZone* group) const {
    if (!group || !group->IsGroup()) return -1;
    return m_doc.groups.Find(static_cast<CGroup*>(const_cast<CZone*>(group)));
}

CObjectFieldStates CMainFrame::FieldStates(CObjectKind kind) const {
    CObjectFieldStates s;  // a game server: the rcon password only
    if (kind == CObjectKind::HLTV) {
        s.exportToWeb = s.external = s.proxyPassword = kFieldShown;
        s.autoRecord = m_doc.AdminBotEnabled() ? kFieldShown : kFieldDisabled;
    } else if (kind == CObjectKind::GTV) {
        s.exportToWeb = s.external = s.autoRecord = kFieldShown;
    }
    return s;
}

namespace {

CObjectDialogValues KindDefaults(CObjectKind kind) {
    CObjectDialogValues v;
    v.port = DefaultPort(kind);
    v.exportToWeb = kind == CObjectKind::HLTV;
    v.autoRecord = kind == CObjectKind::GTV;
    return v;
}

CObjectValues ToDocumentValues(const CObjectDialogValues& d, CGroup* group) {
    CObjectValues v;
    v.host = d.host;
    v.port = d.port;
    v.group = group;
    v.rconPassword = d.rconPassword;
    v.proxyPassword = d.proxyPassword;
    v.externalHost = d.externalHost;
    v.externalPort = static_cast<std::int32_t>(d.externalPort);
    v.exportToWeb = d.exportToWeb ? 1 : 0;
    v.autoRecord = d.autoRecord ? 1 : 0;
    return v;
}

CObjectKind KindOf(const CCommonObject& object) {
    if (dynamic_cast<const CHLTV*>(&object)) return CObjectKind::HLTV;
    if (dynamic_cast<const CGTV*>(&object)) return CObjectKind::GTV;
    if (object.IsGameServer() && dynamic_cast<const CHLServer*>(&object)) return CObjectKind::HLServer;
    return CObjectKind::Q3Server;
}

}  // namespace

// ---- Commands ----

void CMainFrame::AddZone() {
    CAddZoneDialog dialog(this);
    if (auto v = dialog.Run()) m_doc.AddZone(v->name, v->level);
}

void CMainFrame::AddGroup() {
    if (!m_doc.CanAddGroup()) return;
    CAddGroupDialog dialog(ZoneNames(), this);
    if (auto v = dialog.Run())
        if (CZone* zone = ZoneAt(v->zoneIndex)) m_doc.AddGroup(v->name, zone, v->level);
}

void CMainFrame::AddObject(CObjectKind kind) {
    CObjectDialogValues initial = KindDefaults(kind);
    initial.host = m_doc.lastAddress;
    initial.groupIndex = std::max(GroupIndex(m_doc.selectedZone), 0);
    CObjectDialog dialog(GroupLabels(), initial, FieldStates(kind), false, m_doc.Prompter(), this);
    const auto v = dialog.Run();
    if (!v) return;
    CGroup* group = GroupAt(v->groupIndex);
    if (!group) {
        // An object outside every group could be neither seen nor selected.
        m_doc.Prompter().Message("You must define at least one Group before any object creation");
        return;
    }
    m_doc.AddObjectOfKind(kind, ToDocumentValues(*v, group));
}

void CMainFrame::AddRange(CObjectKind kind) {
    CRangeDialog dialog(GroupLabels(), GroupIndex(m_doc.selectedZone), m_doc.lastAddress, DefaultPort(kind),
                        FieldStates(kind), KindDefaults(kind), m_doc.Prompter(), this);
    const auto v = dialog.Run();
    if (!v) return;
    CGroup* group = GroupAt(v->groupIndex);
    if (!group || !v->range.valid) return;
    CObjectDialogValues values;
    values.rconPassword = v->rconPassword;
    values.proxyPassword = v->proxyPassword;
    values.exportToWeb = v->exportToWeb;
    values.autoRecord = v->autoRecord;
    m_doc.RangeAdd(kind, v->range, ToDocumentValues(values, group));
}

void CMainFrame::ObjectProperties() {
    CCommonObject* object = m_doc.selectedObject;
    if (!object || m_doc.objects.Find(object) < 0) return;
    const CObjectKind kind = KindOf(*object);
    CObjectDialogValues initial;
    initial.host = object->host;
    initial.port = object->port;
    initial.groupIndex = GroupIndex(object->group);
    initial.rconPassword = object->rconPassword;
    if (auto* hltv = dynamic_cast<CHLTV*>(object)) {
        initial.proxyPassword = hltv->proxyPassword;
        initial.externalHost = hltv->externalHost;
        initial.externalPort = static_cast<std::uint32_t>(hltv->externalPort);
        initial.external = hltv->ExternalAddressString() != hltv->AddressString();
        initial.exportToWeb = hltv->exportToWeb != 0;
        initial.autoRecord = hltv->autoRecord != 0;
    } else if (auto* gtv = dynamic_cast<CGTV*>(object)) {
        initial.externalHost = gtv->externalHost;
        initial.externalPort = gtv->externalPort;
        initial.external = gtv->ExternalAddressString() != gtv->AddressString();
        initial.exportToWeb = gtv->exportToWeb != 0;
        initial.autoRecord = gtv->autoRecord != 0;
    }
    CObjectDialog dialog(GroupLabels(), initial, FieldStates(kind), true, m_doc.Prompter(), this);
    const auto v = dialog.Run();
    // The object may have gone while the dialog was open.
    if (!v || m_doc.selectedObject != object || m_doc.objects.Find(object) < 0) return;
    CObjectDialogValues kept = *v;
    kept.host = object->host;
    kept.port = object->port;
    if (!kept.external) {
        kept.externalHost = object->host;
        kept.externalPort = object->port;
    }
    CGroup* group = GroupAt(v->groupIndex);
    m_doc.ApplyObjectProperties(ToDocumentValues(kept, group ? group : object->group));
}

void CMainFrame::VuzuVedConfig() {
    CVuzuVedValues initial;
    initial.enabled = m_doc.vuzuVed.enabled != 0;
    initial.server = m_doc.vuzuVed.server;
    initial.login = m_doc.vuzuVed.login;
    initial.password = m_doc.vuzuVed.password;
    initial.remoteFilename = m_doc.vuzuVed.remoteFilename;
    initial.interval = m_doc.vuzuVed.interval;
    CVuzuVedDialog dialog(initial, m_doc.Prompter(), this);
    if (auto v = dialog.Run()) m_doc.SetVuzuVedSettings(*v);
}

void CMainFrame::AdminBotConfig() {
    CAdminBotDialog dialog(m_doc.AdminBotEnabled(), this);
    if (auto v = dialog.Run()) m_doc.SetAdminBotEnabled(*v);
}

void CMainFrame::GtvAutodetectConfig() {
    CNetDetectValues initial;
    initial.enabled = m_doc.networkDetect.enabled != 0;
    initial.zoneIndex = m_doc.networkDetect.targetZone ? m_doc.zones.Find(m_doc.networkDetect.targetZone) : -1;
    initial.exportToWeb = m_doc.networkDetect.exportNewToWeb != 0;
    CNetDetectDialog dialog(ZoneNames(), initial, m_doc.Prompter(), this);
    if (auto v = dialog.Run()) m_doc.SetNetworkDetectSettings(v->enabled, ZoneAt(v->zoneIndex), v->exportToWeb);
}

void CMainFrame::Preferences() {
    const QString metrics = m_settings.Get(CSettings::kMetricsAddress);
    CPreferencesDialog dialog({m_doc.sound.sound.enabled != 0, m_doc.LimitKbps(), metrics}, m_doc.NeededRate(),
                              m_doc.Prompter(), this);
    auto v = dialog.Run();
    if (!v) return;
    m_doc.SetPreferences(v->sound, v->limitKbps);
    if (v->metricsAddress != metrics || !m_metrics.Running()) {
        m_settings.Set(CSettings::kMetricsAddress, v->metricsAddress);
        ServeMetrics(v->metricsAddress);
    }
}

void CMainFrame::ServeMetrics(const QString& address) {
    m_metrics.Stop();
    if (address.isEmpty()) return;
    std::string error;
    const auto listen = ParseListenAddress(address.toStdString(), error);
    if (listen && m_metrics.Start(*listen, kMetricsContentType, error)) {
        m_metrics.Publish(std::make_shared<const std::string>(BuildMetricsText(m_doc, CUdpSocket::BytesSentTotal())));
        return;
    }
    m_doc.Prompter().Message(listen ? error : "Metrics " + error);
}

void CMainFrame::About() {
    CAboutDialog dialog(this);
    dialog.exec();
}

}  // namespace orv
