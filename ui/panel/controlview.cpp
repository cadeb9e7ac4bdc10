#include "ui/panel/controlview.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "document/metrics.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "ui/qtplatform.h"

namespace orv {

namespace {

QTreeWidget* NewReportList(const QString& column, QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setColumnCount(1);
    list->setHeaderLabels({column});
    list->header()->setDefaultAlignment(Qt::AlignCenter);
    list->header()->setStretchLastSection(true);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformRowHeights(true);
    return list;
}

// Makes the list exactly count rows long, keeping the rows it has.
void ResizeRows(QTreeWidget* list, int count) {
    while (list->topLevelItemCount() > count) delete list->takeTopLevelItem(list->topLevelItemCount() - 1);
    while (list->topLevelItemCount() < count) list->addTopLevelItem(new QTreeWidgetItem(list));
}

void SetRowText(QTreeWidget* list, int row, const QString& text) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (item->text(0) != text) item->setText(0, text);
}

// Setting a line's text anew, even the same, drops its selection and moves its cursor: only a change is set.
void SetLineText(QLineEdit* line, const QString& text) {
    if (line->text() != text) line->setText(text);
}

}  // namespace

CControlView::CControlView(COrvaneDoc& doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
    setObjectName(QStringLiteral("controlView"));
    hostName = new QLineEdit(this);
    hostName->setReadOnly(true);
    mode = new QLineEdit(this);
    mode->setReadOnly(true);
    roundTrip = new QLabel(this);
    roundTrip->setObjectName(QStringLiteral("roundTrip"));
    startRecord = new QPushButton(QStringLiteral("StartRecord"), this);
    stopRecording = new QPushButton(QStringLiteral("StopRecording"), this);
    cmdQueue = new QLabel(this);
    neededBandwidth = new QLabel(this);
    ftpQueue = new QLabel(QStringLiteral("FTP engine OFF"), this);
    ftpQueue->setMinimumWidth(200);
    auto* rcon = new QGroupBox(QStringLiteral("Rcon"), this);
    chat = NewReportList(QStringLiteral("Chat"), rcon);
    send = new QPushButton(QStringLiteral("Send"), rcon);
    send->setFixedWidth(70);
    m_command = new QLineEdit(rcon);
    players = NewReportList(QStringLiteral("Players"), this);
    players->setFixedWidth(180);
    kick = new QPushButton(QStringLiteral("Kick"), this);
    kick->setFixedWidth(180);

    // The arrangement follows the panel's size: the player column keeps 180 pixels at the right, the
    // console takes the rest, the command line stays at its foot.
    auto* top = new QHBoxLayout;
    top->addWidget(hostName, 2);
    top->addWidget(mode, 1);
    top->addWidget(roundTrip);
    top->addWidget(startRecord);
    top->addWidget(stopRecording);
    top->addWidget(cmdQueue);
    top->addWidget(neededBandwidth);
    top->addStretch(1);
    top->addWidget(ftpQueue);
    auto* rconLayout = new QGridLayout(rcon);
    rconLayout->addWidget(chat, 0, 0, 1, 2);
    rconLayout->addWidget(send, 1, 0);
    rconLayout->addWidget(m_command, 1, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(top);
    left->addWidget(rcon, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(players, 1);
    right->addWidget(kick);
    auto* whole = new QHBoxLayout(this);
    whole->setContentsMargins(10, 10, 10, 10);
    whole->addLayout(left, 1);
    whole->addSpacing(10);
    whole->addLayout(right);

    setTabOrder(hostName, mode);
    setTabOrder(mode, startRecord);
    setTabOrder(startRecord, stopRecording);
    setTabOrder(stopRecording, chat);
    setTabOrder(chat, send);
    setTabOrder(send, m_command);
    setTabOrder(m_command, players);
    setTabOrder(players, kick);

    connect(send, &QPushButton::clicked, this, &CControlView::Send);
    connect(kick, &QPushButton::clicked, this, &CControlView::KickOrFollow);
    connect(startRecord, &QPushButton::clicked, this, &CControlView::StartRecord);
    connect(stopRecording, &QPushButton::clicked, this, &CControlView::StopRecording);
    connect(this, &CControlView::historyStart, this, [] { QApplication::beep(); });
    // Enter and the Up/Down keys work the command line wherever the focus is in the panel.
    for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);

    m_doc.AddView(this);
    // The queue lines wait for the first refresh, which the document's first update brings.
    SetControlsEnabled(false);
    hostName->setText(QStringLiteral("---"));
}

CControlView::~CControlView() {
    m_doc.RemoveView(this);
}

CCommonObject* CControlView::Selected() const {
    CCommonObject* selected = m_doc.selectedObject;
    return selected && m_doc.objects.Find(selected) >= 0 ? selected : nullptr;
}

void CControlView::SetControlsEnabled(bool on, bool kickOn, bool recordOn) {
    for (QWidget* w : std::initializer_list<QWidget*>{chat, m_command, send, mode, players}) w->setEnabled(on);
    kick->setEnabled(on && kickOn);
    startRecord->setEnabled(on && recordOn);
    stopRecording->setEnabled(on && recordOn);
}

void CControlView::Refresh() {
    const CCommonObject* object = Selected();
    if (!object) {
        SetLineText(mode, QString());
        roundTrip->clear();
        SetLineText(hostName, QStringLiteral("---"));
        SetControlsEnabled(false);
        ResizeRows(players, 0);
        ResizeRows(chat, 0);
    } else {
        // Each control is set once to what it ends as: switching it on and off again every second would
        // send it the change events and a repaint each time.
        bool controls = true, kickOn = true, recordOn = true;
        bool showPlayers = true, showConsole = true;
        const QString rtt = QString::fromStdString(RoundTripText(*object));
        if (roundTrip->text() != rtt) roundTrip->setText(rtt);
        switch (object->state) {
            case CCommonObject::kStateTimeout:
                SetLineText(mode, QStringLiteral("Timeout"));
                controls = false;
                showPlayers = showConsole = false;
                break;
            case CCommonObject::kStateMonitor:
                SetLineText(mode, QStringLiteral("Monitor only"));
                controls = false;
                showConsole = false;
                break;
            case CCommonObject::kStateRcon:
                SetLineText(mode, QStringLiteral("Rcon Controled"));
                if (object->IsGameServer())
                    kick->setText(QStringLiteral("Kick"));
                else if (object->IsGTV())
                    kick->setText(QStringLiteral("Change POV"));
                else
                    kickOn = false;
                recordOn = object->CanRecord();
                break;
            default:
                break;
        }
        SetControlsEnabled(controls, kickOn, recordOn);
        SetLineText(hostName, ToQString(object->serverName));
        if (showPlayers)
            ShowPlayers(object);
        else
            ResizeRows(players, 0);
        if (showConsole)
            ShowConsole(object);
        else
            ResizeRows(chat, 0);
    }
    ftpQueue->setText(QStringLiteral("FTP Queue : %1 jobs left").arg(m_doc.ftp.PendingCount()));
    cmdQueue->setText(QStringLiteral("Cmd Queue : %1").arg(m_doc.output.Count()));
    // What the layout's polling needs; shown in red, with the advice, while the limit is below it.
    const std::int64_t needed = m_doc.NeededRate();
    neededBandwidth->setText(QStringLiteral("Needed : %1 kbps").arg((needed + 1023) / 1024));
    const QString warning = ToQString(m_doc.OutputRateWarning(needed));
    if (neededBandwidth->toolTip() != warning) {
        neededBandwidth->setToolTip(warning);
        neededBandwidth->setStyleSheet(warning.isEmpty() ? QString() : QStringLiteral("color: #c00000"));
    }
}

void CControlView::ShowPlayers(const CCommonObject* object) {
    const auto* names = object->GetPlayerNames();
    const int count = names ? std::clamp(object->GetPlayerNameCount(), 0, CCommonObject::kMaxPlayerNames) : 0;
    ResizeRows(players, count);
    for (int i = 0; i < count; ++i) SetRowText(players, i, ToQString((*names)[static_cast<size_t>(i)]));
}

void CControlView::ShowConsole(const CCommonObject* object) {
    const CConsoleLog& log = object->consoleLog;
    const int count = std::clamp(log.count, 0, CConsoleLog::kCapacity);
    ResizeRows(chat, count);
    for (int i = 0; i < count; ++i) SetRowText(chat, i, ToQString(log.text[static_cast<size_t>(i)]));
    if (count > 0) chat->scrollToItem(chat->topLevelItem(count - 1));
}

void CControlView::Send() {
    const std::string text = FromQString(m_command->text());
    if (CCommonObject* object = Selected(); object && !text.empty()) {
        if (m_history.count == 0 || m_history.text[static_cast<size_t>(m_history.count - 1)] != text)
            m_history.Append(0, text, m_doc.Platform().clock.Now());
        m_cursor = m_history.count;
        object->SendRcon(text);
    }
    m_command->clear();
}

void CControlView::HistoryUp() {
    if (m_cursor == 0) {
        emit historyStart();
        return;
    }
    --m_cursor;
    m_command->setText(ToQString(m_history.text[static_cast<size_t>(m_cursor)]));
}

void CControlView::HistoryDown() {
    if (m_cursor < m_history.count) ++m_cursor;
    if (m_cursor < m_history.count)
        m_command->setText(ToQString(m_history.text[static_cast<size_t>(m_cursor)]));
    else
        m_command->clear();
}

bool CControlView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                Send();
                return true;
            case Qt::Key_Up:
                HistoryUp();
                return true;
            case Qt::Key_Down:
                HistoryDown();
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CControlView::KickOrFollow() {
    CCommonObject* object = Selected();
    // The chosen row: Qt's current row may be one that is not selected.
    const QList<QTreeWidgetItem*> rows = players->selectedItems();
    if (!object || rows.size() != 1 || object->state != CCommonObject::kStateRcon) return;
    const int index = players->indexOfTopLevelItem(rows.front());
    const auto* names = object->GetPlayerNames();
    if (!names || index < 0 || index >= object->GetPlayerNameCount()) return;
    const std::string name = (*names)[static_cast<size_t>(index)];
    const bool server = object->IsGameServer();
    if (!server && !object->IsGTV()) return;
    const std::string question =
        server ? "Are you sure you want to kick " + name + " ?" : "Are you sure you want to follow " + name + " ?";
    // The object may have gone while the question was open.
    if (!m_doc.Platform().prompter.AskYesNo(question) || Selected() != object) return;
    if (server)
        object->Kick(name);
    else
        object->Follow(name);
}

void CControlView::StartRecord() {
    CCommonObject* object = Selected();
    if (!object || object->state != CCommonObject::kStateRcon) return;
    IPrompter& prompter = m_doc.Platform().prompter;
    if (auto* hltv = dynamic_cast<CHLTV*>(object)) {
        auto name = prompter.InputText("Enter file for recording", hltv->RecordingFileName());
        // The object may have gone while the box was open.
        if (!name || Selected() != object) return;
        CHLTV::CleanFileName(*name);
        hltv->SendRcon("record " + *name);
    } else if (auto* gtv = dynamic_cast<CGTV*>(object); gtv && gtv->selectedRoom) {
        const auto name = prompter.InputText("Enter file for recording", gtv->RecordingName(*gtv->selectedRoom));
        if (!name || Selected() != object || !gtv->selectedRoom) return;
        gtv->SendStartRecord(*gtv->selectedRoom, *name);
    }
}

void CControlView::StopRecording() {
    CCommonObject* object = Selected();
    if (!object || object->state != CCommonObject::kStateRcon) return;
    if (auto* hltv = dynamic_cast<CHLTV*>(object)) {
        hltv->SendRcon("stoprecord");
        hltv->SendRcon("stoprecording");
    } else if (auto* gtv = dynamic_cast<CGTV*>(object); gtv && gtv->selectedRoom) {
        gtv->SendStopRecord(*gtv->selectedRoom);
    }
}

}  // namespace orv
