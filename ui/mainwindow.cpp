#include "ui/mainwindow.h"

#include <QStatusBar>
#include <QTimerEvent>
#include <QVBoxLayout>

namespace orv {

CMainFrame::CMainFrame(COrvaneDoc& doc, QWidget* parent) : QMainWindow(parent), m_doc(doc) {
    setWindowTitle(QStringLiteral("Orvane"));
    resize(1024, 768);
    m_summary = new QLabel(this);
    m_summary->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_summary->setMargin(8);
    setCentralWidget(m_summary);
    m_doc.AddView(this);
    RefreshSummary();
    m_timer.start(kTimerPeriodMs, this);
}

CMainFrame::~CMainFrame() { m_doc.RemoveView(this); }

void CMainFrame::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timer.timerId()) m_doc.Tick();
    else QMainWindow::timerEvent(event);
}

void CMainFrame::OnUpdate(int) { RefreshSummary(); }

void CMainFrame::RefreshSummary() {
    QString text;
    for (auto& zone : m_doc.zones) {
        text += QString::fromStdString(zone->name) + QStringLiteral("\n");
        for (auto& group : m_doc.groups) {
            if (group->zone != zone.get()) continue;
            text += QStringLiteral("    ") + QString::fromStdString(group->name) + QStringLiteral("\n");
            for (auto& object : m_doc.objects)
                if (object->group == group.get())
                    text += QStringLiteral("        ") + QString::fromStdString(object->AddressString()) +
                            QStringLiteral("  state %1\n").arg(object->state);
        }
    }
    m_summary->setText(text);
    statusBar()->showMessage(QStringLiteral("Cmd Queue : %1").arg(m_doc.output.Count()));
}

}  // namespace orv
