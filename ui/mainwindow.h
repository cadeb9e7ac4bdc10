// The main window: the layout above and the control panel below in a splitter, the menus, toolbar and
// status bar, the layout files (New, Open, Save, Save As, recent files, dropped files) and the one-second
// timer that drives the document's monitoring tick. Every menu command opens its dialog here and hands
// the values to the document.
#pragma once

#include <QBasicTimer>
#include <QMainWindow>
#include <QSplitter>
#include <string>
#include <vector>

#include "document/document.h"
#include "net/metricsserver.h"
#include "ui/dialogs/objectdialogs.h"
#include "ui/view/orvaneview.h"

class QAction;

namespace orv {

class CControlView;
class CFindBar;
class CSettings;

class CMainFrame : public QMainWindow, public IDocumentView {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 1000;
    static constexpr int kPanelHeight = 400;
    static inline const QString kFileFilter = QStringLiteral("Orvane Files (*.orv)");

    // demo: the window says in its title that it shows a demonstration.
    CMainFrame(COrvaneDoc& doc, CSettings& settings, bool demo = false, QWidget* parent = nullptr);
    ~CMainFrame() override;
    void OnUpdate(int hint) override;
    void OnModifiedChanged(bool modified) override { setWindowModified(modified); }

    // Opens a layout file (the document reports a failure); on success it becomes the current file and
    // heads the recent-file list.
    bool OpenFile(const QString& path);
    bool SaveFile(const QString& path);
    const QString& FilePath() const { return m_path; }

    // A menu or toolbar command by its object name ("actionFileSave", ...).
    QAction* Action(const QString& name) const;
    CControlView* ControlView() const { return m_panel; }
    COrvaneView* LayoutView() const { return m_view; }
    CFindBar* FindBar() const { return m_findBar; }
    // The metrics endpoint of the Preferences.
    const CMetricsServer& Metrics() const { return m_metrics; }
    // The top pane's height for a client area of height h.
    static int LayoutPaneHeight(int clientHeight) { return clientHeight >= 401 ? clientHeight - kPanelHeight : 100; }

public slots:
    void FileNew();
    void FileOpen();
    bool FileSave();
    bool FileSaveAs();
    void AddZone();
    void AddGroup();
    void AddObject(CObjectKind kind);
    void AddRange(CObjectKind kind);
    // The properties of the selected object (its kind decides the fields).
    void ObjectProperties();
    void VuzuVedConfig();
    void AdminBotConfig();
    void GtvAutodetectConfig();
    void Preferences();
    void About();
    void NextPane();
    void PreviousPane();

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QAction* NewAction(const QString& name, const QString& text, const QString& tip, const QString& icon = {});
    void BuildMenus();
    // The layout file's name as the title and the questions show it ("Untitled" before the first save).
    QString DocumentName() const;
    void UpdateTitle();
    // The file just opened or saved becomes the current one, unmodified and first in the recent files.
    void SetCurrentFile(const QString& path);
    void UpdateRecentMenu();
    // Asks "Save changes to %1?" for a modified layout; false when the operator cancels (or the save fails).
    bool SaveModified();
    void PlaceSplitter();

    // What the dialogs show of the layout, and the way back from their indices.
    std::vector<std::string> GroupLabels() const;
    std::vector<std::string> ZoneNames() const;
    CGroup* GroupAt(int index) const;
    CZone* ZoneAt(int index) const;
    int GroupIndex(const CZone* group) const;
    CObjectFieldStates FieldStates(CObjectKind kind) const;

    COrvaneDoc& m_doc;
    CSettings& m_settings;
    bool m_demo;
    QString m_path;
    QBasicTimer m_timer;
    // The metrics endpoint of the Preferences (off while its address is empty): a text after each tick.
    void ServeMetrics(const QString& address);
    CMetricsServer m_metrics;
    QSplitter* m_splitter;
    COrvaneView* m_view;
    CFindBar* m_findBar;
    CControlView* m_panel;
    QAction* m_recentSeparator = nullptr;
    std::vector<QAction*> m_recentActions;
    bool m_operatorSplit = false;
};

}  // namespace orv
