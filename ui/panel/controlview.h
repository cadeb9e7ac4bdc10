// The operator's panel for the selected object: control mode and host name, player list, console lines,
// the remote-console command line with its history, kick / change of point of view, the recording
// buttons and the lengths of the command and FTP queues.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include "base/consolelog.h"
#include "document/document.h"

namespace orv {

class CControlView : public QWidget, public IDocumentView {
    Q_OBJECT
public:
    explicit CControlView(COrvaneDoc& doc, QWidget* parent = nullptr);
    ~CControlView() override;

    void OnUpdate(int hint) override { Refresh(); }
    void Refresh();

    // The command line's history.
    const CConsoleLog& History() const { return m_history; }

    QLineEdit* CommandEdit() const { return m_command; }

    // Widgets, by their roles.
    QLineEdit* hostName;
    QLineEdit* mode;
    QLabel* roundTrip;  // beside the mode: the round trip, empty in state 1
    QPushButton* startRecord;
    QPushButton* stopRecording;
    QLabel* cmdQueue;
    QLabel* neededBandwidth;  // the rate the layout needs, against the limit
    QLabel* ftpQueue;
    QTreeWidget* chat;
    QPushButton* send;
    QTreeWidget* players;
    QPushButton* kick;

public slots:
    void Send();
    void HistoryUp();
    void HistoryDown();
    void KickOrFollow();
    void StartRecord();
    void StopRecording();

signals:
    // Up was pressed at the oldest entry (the panel beeps).
    void historyStart();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The selected object, when it still is one of the document's.
    CCommonObject* Selected() const;
    // Kick and the recording buttons also need their own condition to be on.
    void SetControlsEnabled(bool on, bool kickOn = true, bool recordOn = true);
    void ShowPlayers(const CCommonObject* object);
    void ShowConsole(const CCommonObject* object);

    COrvaneDoc& m_doc;
    QLineEdit* m_command;
    CConsoleLog m_history;
    int m_cursor = 0;
};

}  // namespace orv
