#include "ui/mainwindow.h"

#include <QStatusBar>
#include <QTimerEvent>

namespace orv {

CMainFrame::CMainFrame(COrvaneDoc& doc, QWidget* parent) : QMainWindow(parent), m_doc(doc) {
    setWindowTitle(QStringLiteral("Orvane"));
    resize(1024, 768);
    m_view = new COrvaneView(doc, this);
    setCentralWidget(m_view);
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
    statusBar()->showMessage(QStringLiteral("Cmd Queue : %1").arg(m_doc.output.Count()));
}

}  // namespace orv
