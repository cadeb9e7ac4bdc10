// The layout view: the picture of the layout, painted off screen after every document update and copied
// to the window; left click selects, dragging a proxy in rcon control onto another object makes it act
// on it, right click opens the context menu of what lies under the pointer. It also saves the picture as
// a screenshot and prints it.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QString>

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

    explicit COrvaneView(COrvaneDoc& doc, QWidget* parent = nullptr);
    ~COrvaneView() override;

    // Lays out and repaints the whole picture; while a drag runs, only notes that it is due.
    void OnUpdate(int hint) override;

    // The off-screen picture as last painted, and the layout's size.
    const QImage& Picture() const { return m_picture.Image(); }
    CLayoutSize LayoutSize() const { return m_picture.Size(); }
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
    // The picture scaled to the printer's page, keeping its proportions.
    void PrintTo(QPrinter* printer);

signals:
    // The Properties command of an object's menu: the window opens the object's dialog for the
    // document's selected object.
    void ObjectPropertiesRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    // The tooltip of the object under the pointer: its name, address and round trip.
    bool viewportEvent(QEvent* event) override;

private:
    // Lays out and paints: everything, or (a refresh) only what a tick can change.
    void Rebuild(bool refresh = false);
    void UpdateScrollRange();
    QPoint ToLayout(const QPoint& viewportPos) const;
    void EndDrag(const QPoint& layoutPos);
    void AutoScroll(const QPoint& viewportPos);
    bool StillInLayout(const CCommonObject* object) const;

    COrvaneDoc& m_doc;
    view::CLayoutPicture m_picture;
    // Drag state: the dragged proxy (none when idle), the object under the pointer, the rubber line's end.
    CCommonObject* m_dragged = nullptr;
    CCommonObject* m_target = nullptr;
    QPoint m_lineStart, m_lineEnd;
    bool m_updateAfterDrag = false;
};

}  // namespace orv
