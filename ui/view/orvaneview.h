// The layout view: paints the part of the layout its viewport shows, at the zoom chosen (the periodic
// refresh paints again only what changed and is visible); left click selects, dragging a proxy in rcon
// control onto another object makes it act on it, right click opens the context menu of what lies under
// the pointer. It also saves the whole layout as a screenshot and prints it.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <optional>
#include <QString>
#include <vector>

#include "document/document.h"
#include "document/layoutpass.h"
#include "ui/view/layoutpainter.h"

class QMenu;
class QPrinter;

namespace orv {

class COrvaneView : public QAbstractScrollArea, public IDocumentView {
    Q_OBJECT
public:
    static constexpr int kAutoScrollStep = 70;
    static constexpr int kAutoScrollEdge = 16;  // a drag this close to an edge scrolls too
    static constexpr double kMinZoom = 0.25, kMaxZoom = 2.0;
    static constexpr double kFitMinimum = 0.05;  // "Fit layout" may go below kMinZoom for a large event

    explicit COrvaneView(COrvaneDoc& doc, QWidget* parent = nullptr);
    ~COrvaneView() override;

    // Lays out and paints again what changed; while a drag runs, only notes that it is due.
    void OnUpdate(int hint) override;
    // Layout items are about to go: a drag ends without a drop and the view keeps no pointer into them.
    void OnLayoutDeleting() override;

    CLayoutSize LayoutSize() const { return m_size; }
    double Zoom() const { return m_zoom; }
    // The zoom, keeping the layout point under `anchor` (viewport coordinates; the centre by default) in place.
    void SetZoom(double zoom, std::optional<QPoint> anchor = std::nullopt);
    // The layout point under a viewport point.
    QPoint ToLayout(const QPoint& viewportPos) const;
    // The find bar's matches, framed until the next search or layout change.
    void SetFound(const std::vector<const CCommonObject*>& found);
    // Scrolls so that the object's box is in view (centred when it was not).
    void ShowObject(const CCommonObject& object);
    bool Dragging() const { return m_dragged != nullptr; }
    // "Orvane" and the local time as "%Y-%m-%d_%Hh%M.jpg".
    QString ScreenshotFileName() const;
    // The menu a right click on the current selection shows (none when nothing is selected); the caller owns it.
    QMenu* CreateContextMenu();

public slots:
    // Saves the picture as a JPEG file in the current directory, named by ScreenshotFileName. Nothing is
    // reported; false when it could not be written (no file is left behind then).
    bool TakeScreenshot();
    bool SaveScreenshot(const QString& path);
    void Print();
    void PrintPreview();
    // The whole layout scaled to the printer's page, keeping its proportions, drawn straight on it.
    void PrintTo(QPrinter* printer);
    void ZoomIn();
    void ZoomOut();
    void ZoomReset();
    // The whole layout in the viewport (never above 100 %).
    void FitLayout();

signals:
    // The Properties command of an object's menu: the window opens the object's dialog for the
    // document's selected object.
    void ObjectPropertiesRequested();
    void ZoomChanged(double zoom);
    // The layout changed (objects may have gone): the marks of the find bar were dropped.
    void LayoutChanged();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    // The tooltip of the object under the pointer: its name, address and round trip.
    bool viewportEvent(QEvent* event) override;

private:
    // Lays out and asks for the viewport's changed parts to be painted.
    void Rebuild();
    void UpdateScrollRange();
    void SyncViewport();
    void StartDrag(CCommonObject* proxy);
    // The button went up: the dragged proxy acts on the object under the point, if any.
    void EndDrag(const QPoint& layoutPos);
    // The drag ends without a drop: Escape, the focus or the window's input went elsewhere (a message box,
    // another window), the release was lost, or the layout is being replaced.
    void CancelDrag();
    // Clears the drag state and catches up an update that waited for it.
    void FinishDrag(bool missedUpdate);
    void AutoScroll(const QPoint& viewportPos);
    bool StillInLayout(const CCommonObject* object) const;

    COrvaneDoc& m_doc;
    view::CViewPainter m_painter;
    CLayoutSize m_size;
    double m_zoom = 1.0;
    // Drag state: the dragged proxy (none when idle), the object under the pointer, the rubber line's end.
    CCommonObject* m_dragged = nullptr;
    CCommonObject* m_target = nullptr;
    QPoint m_lineStart, m_lineEnd;
    bool m_layoutReplaced = false;  // objects went since the find bar last searched
    bool m_updateAfterDrag = false;
};

}  // namespace orv
