// The main window: the layout above, the control panel below, and the one-second timer that drives
// the document's monitoring tick.
#pragma once

#include <QBasicTimer>
#include <QMainWindow>

#include "document/document.h"
#include "ui/view/orvaneview.h"

namespace orv {

class CMainFrame : public QMainWindow, public IDocumentView {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 1000;

    explicit CMainFrame(COrvaneDoc& doc, QWidget* parent = nullptr);
    ~CMainFrame() override;
    void OnUpdate(int hint) override;
    COrvaneView* View() const { return m_view; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void RefreshSummary();

    COrvaneDoc& m_doc;
    QBasicTimer m_timer;
    COrvaneView* m_view;
};

}  // namespace orv
