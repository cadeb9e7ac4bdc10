#include "ui/view/orvaneview.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QScrollBar>
#include <QWheelEvent>
#include <QToolTip>
#include <array>
#include <cmath>

#include "base/strutil.h"
#include "document/metrics.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "ui/view/layoutpainter.h"
#include "ui/view/objectpainters.h"
#include "ui/view/paintkit.h"

namespace orv {

COrvaneView::COrvaneView(COrvaneDoc& doc, QWidget* parent) : QAbstractScrollArea(parent), m_doc(doc) {
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_painter.background = palette().window().color();
    m_doc.AddView(this);
    Rebuild();
}

COrvaneView::~COrvaneView() { m_doc.RemoveView(this); }

void COrvaneView::OnUpdate(int hint) {
    if (m_dragged) {
        m_updateAfterDrag = true;
        return;
    }
    if (hint == kHintLayoutChanged && (m_layoutReplaced || !m_painter.marks.found.empty())) {
        m_layoutReplaced = false;
        // The matches may point at objects that have gone.
        m_painter.marks.found.clear();
        m_size = LayOut(m_doc);
        emit LayoutChanged();
    }
    Rebuild();
}

void COrvaneView::OnLayoutDeleting() {
    CancelDrag();
    // Nothing that names an object of the old layout outlives it: the find bar's matches and the painter's
    // record of what it last drew.
    m_painter.marks.found.clear();
    m_painter.Forget();
    m_layoutReplaced = true;  // the find bar searches the new layout at the next layout change
}

void COrvaneView::Rebuild() {
    // The layout pass places everything; the painter compares with what the viewport shows.
    m_size = LayOut(m_doc);
    UpdateScrollRange();
    SyncViewport();
    viewport()->update(m_painter.Refresh(m_doc, m_size));
}

void COrvaneView::SyncViewport() {
    m_painter.viewport = {QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()), m_zoom,
                          viewport()->size()};
}

void COrvaneView::UpdateScrollRange() {
    const QSize page = viewport()->size();
    const int width = static_cast<int>(std::ceil(m_size.width * m_zoom));
    const int height = static_cast<int>(std::ceil(m_size.height * m_zoom));
    horizontalScrollBar()->setRange(0, std::max(0, width - page.width()));
    horizontalScrollBar()->setPageStep(page.width());
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setRange(0, std::max(0, height - page.height()));
    verticalScrollBar()->setPageStep(page.height());
    verticalScrollBar()->setSingleStep(20);
}

void COrvaneView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
    SyncViewport();
}

void COrvaneView::scrollContentsBy(int dx, int dy) {
    SyncViewport();
    // The pixels already painted move; only the uncovered strip is painted (the rubber line moves with
    // the pointer, so a drag paints it all).
    if (m_dragged) viewport()->update();
    else viewport()->scroll(dx, dy);
}

QPoint COrvaneView::ToLayout(const QPoint& viewportPos) const {
    view::CViewport at = m_painter.viewport;
    at.offset = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
    at.scale = m_zoom;
    return at.ToLayout(viewportPos);
}

void COrvaneView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    SyncViewport();
    m_painter.marks.dragged = m_dragged;
    m_painter.marks.target = m_target;
    m_painter.Paint(p, m_doc, m_size, event->region());
    if (!m_dragged) return;
    // The rubber line from the dragged proxy's icon to the pointer, over the layout.
    m_painter.viewport.Apply(p);
    p.setPen(QPen(QColor(100, 100, 100), 4));
    p.drawLine(m_lineStart, m_lineEnd);
}

bool COrvaneView::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::FocusOut:
        case QEvent::WindowBlocked:     // a modal window opened: it takes the button's release
        case QEvent::WindowDeactivate:  // another window took the input
        case QEvent::UngrabMouse:
            CancelDrag();
            break;
        default:
            break;
    }
    return QAbstractScrollArea::event(event);
}

void COrvaneView::keyPressEvent(QKeyEvent* event) {
    if (m_dragged && event->key() == Qt::Key_Escape) {
        CancelDrag();
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void COrvaneView::SetZoom(double zoom, std::optional<QPoint> anchor) {
    zoom = std::clamp(zoom, kFitMinimum, kMaxZoom);
    if (std::abs(zoom - m_zoom) < 1e-9) return;
    const QPoint at = anchor.value_or(viewport()->rect().center());
    const QPointF layoutPoint = (QPointF(at) + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value())) / m_zoom;
    m_zoom = zoom;
    UpdateScrollRange();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(layoutPoint.x() * zoom - at.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(layoutPoint.y() * zoom - at.y())));
    SyncViewport();
    viewport()->update();
    emit ZoomChanged(m_zoom);
}

namespace {
constexpr double kZoomSteps[] = {0.25, 1.0 / 3, 0.5, 2.0 / 3, 0.75, 0.9, 1.0, 1.25, 1.5, 1.75, 2.0};

// The next step of the zoom in (up) or out; none beyond the ends.
std::optional<double> ZoomStep(double zoom, bool up) {
    if (up) {
        for (double step : kZoomSteps)
            if (step > zoom * 1.001) return step;
    } else {
        for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
            if (*it < zoom * 0.999) return *it;
    }
    return std::nullopt;
}
}  // namespace

void COrvaneView::ZoomIn() {
    if (auto step = ZoomStep(m_zoom, true)) SetZoom(*step);
}

void COrvaneView::ZoomOut() {
    if (auto step = ZoomStep(m_zoom, false)) SetZoom(*step);
}

void COrvaneView::ZoomReset() { SetZoom(1.0); }

void COrvaneView::FitLayout() {
    const QSize room = maximumViewportSize();
    const double fit = std::min({1.0, room.width() / std::max(1.0, double(m_size.width)),
                                 room.height() / std::max(1.0, double(m_size.height))});
    SetZoom(fit);
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void COrvaneView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) return QAbstractScrollArea::wheelEvent(event);
    const int delta = event->angleDelta().y();
    if (delta == 0) return;
    if (auto step = ZoomStep(m_zoom, delta > 0)) SetZoom(*step, event->position().toPoint());
    event->accept();
}

void COrvaneView::SetFound(const std::vector<const CCommonObject*>& found) {
    m_painter.marks.found = {found.begin(), found.end()};
    SyncViewport();
    viewport()->update(m_painter.Refresh(m_doc, m_size));
}

void COrvaneView::ShowObject(const CCommonObject& object) {
    SyncViewport();
    const QRect box = m_painter.viewport.ToView(view::ToQRect(object.box));
    if (viewport()->rect().contains(box)) return;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + box.center().x() - viewport()->width() / 2);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + box.center().y() - viewport()->height() / 2);
}

void COrvaneView::mousePressEvent(QMouseEvent* event) {
    // A press during a drag means its release went elsewhere: that drag is over, this press is a new one.
    CancelDrag();
    const QPoint at = ToLayout(event->position().toPoint());
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    SelectAt(m_doc, at.x(), at.y());
    if (event->button() == Qt::RightButton) {
        std::unique_ptr<QMenu> menu(CreateContextMenu());
        if (menu) menu->exec(event->globalPosition().toPoint());
        return;
    }
    CCommonObject* selected = m_doc.selectedObject;
    if (selected && selected->RconAccepted()) StartDrag(selected);
}

void COrvaneView::StartDrag(CCommonObject* proxy) {
    m_dragged = proxy;
    m_target = nullptr;
    m_lineStart = m_lineEnd =
        QPoint((proxy->iconRect.left + proxy->iconRect.right) / 2, (proxy->iconRect.top + proxy->iconRect.bottom) / 2);
    // Escape and the loss of the focus end the drag: the view takes the keyboard for it.
    setFocus(Qt::MouseFocusReason);
    viewport()->update();
}

bool COrvaneView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QAbstractScrollArea::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QPoint at = ToLayout(help->pos());
    const CCommonObject* object = DropTargetAt(m_doc, nullptr, at.x(), at.y());
    if (!object) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QStringList lines{QString::fromStdString(ToDisplayUtf8(object->serverName)),
                      QString::fromStdString(ToDisplayUtf8(object->AddressString()))};
    const std::string rtt = RoundTripText(*object);
    lines << (rtt.empty() ? QStringLiteral("No round trip (no answer)") : QString::fromStdString(rtt));
    if (lines.front().isEmpty()) lines.removeFirst();
    QToolTip::showText(help->globalPos(), lines.join(QLatin1Char('\n')), viewport());
    return true;
}

void COrvaneView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragged) return;
    const QPoint pos = event->position().toPoint();
    AutoScroll(pos);
    m_lineEnd = ToLayout(pos);
    m_target = DropTargetAt(m_doc, m_dragged, m_lineEnd.x(), m_lineEnd.y());
    viewport()->update();
}

void COrvaneView::AutoScroll(const QPoint& viewportPos) {
    // Only where the layout reaches past the window: a step while the pointer is near or beyond that edge.
    const auto step = [](QScrollBar* bar, int pos, int extent) {
        if (bar->maximum() <= 0) return;
        if (pos < kAutoScrollEdge) bar->setValue(bar->value() - kAutoScrollStep);
        else if (pos >= extent - kAutoScrollEdge) bar->setValue(bar->value() + kAutoScrollStep);
    };
    step(verticalScrollBar(), viewportPos.y(), viewport()->height());
    step(horizontalScrollBar(), viewportPos.x(), viewport()->width());
}

void COrvaneView::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_dragged || event->button() != Qt::LeftButton) return;
    EndDrag(ToLayout(event->position().toPoint()));
}

bool COrvaneView::StillInLayout(const CCommonObject* object) const {
    return object && m_doc.objects.Find(object) >= 0;
}

void COrvaneView::EndDrag(const QPoint& at) {
    CCommonObject* dragged = m_dragged;
    CCommonObject* target = DropTargetAt(m_doc, dragged, at.x(), at.y());
    const bool missedUpdate = m_updateAfterDrag;
    m_dragged = m_target = nullptr;
    m_painter.marks.dragged = m_painter.marks.target = nullptr;
    m_updateAfterDrag = false;
    if (target && StillInLayout(dragged)) dragged->OnDrop(target);
    FinishDrag(missedUpdate);
}

void COrvaneView::CancelDrag() {
    if (!m_dragged) return;
    const bool missedUpdate = m_updateAfterDrag;
    m_dragged = m_target = nullptr;
    m_painter.marks.dragged = m_painter.marks.target = nullptr;
    m_updateAfterDrag = false;
    FinishDrag(missedUpdate);
}

void COrvaneView::FinishDrag(bool missedUpdate) {
    // The drag's drawing goes with the line; an update refused during the drag is caught up.
    if (missedUpdate) m_painter.Forget();
    viewport()->update();
    Rebuild();
}

QMenu* COrvaneView::CreateContextMenu() {
    struct Item {
        const char* text;
        void (COrvaneDoc::*command)();
        bool enabled = true;
    };
    std::vector<Item> items;
    CCommonObject* object = m_doc.selectedObject;
    bool properties = false;
    if (m_doc.selectedZone) {
        items = {{"D&elete", &COrvaneDoc::DeleteSelectedZone},
                 {"Global Rcon Command...", &COrvaneDoc::GlobalRcon},
                 {"&Increase Layer", &COrvaneDoc::IncreaseLayer},
                 {"De&crease Layer", &COrvaneDoc::DecreaseLayer},
                 {"Move &Up", &COrvaneDoc::MoveZoneUp},
                 {"Move &Down", &COrvaneDoc::MoveZoneDown},
                 {"&Properties", &COrvaneDoc::RenameSelectedZone}};
    } else if (auto* hltv = dynamic_cast<CHLTV*>(object)) {
        const bool control = hltv->state >= CCommonObject::kStateRcon;
        items = {{"Delete", &COrvaneDoc::DeleteSelectedObject},
                 {"Spec Password", &COrvaneDoc::HLTVSpecPassword, control},
                 {"Proxy Password", &COrvaneDoc::HLTVProxyPassword, control},
                 {"Rcon Password", &COrvaneDoc::HLTVRconPassword},
                 {"Disconnect", &COrvaneDoc::HLTVDisconnect, control},
                 {"Move Up", &COrvaneDoc::MoveObjectUp},
                 {"Move Down", &COrvaneDoc::MoveObjectDown},
                 {"Properties", nullptr}};
        properties = true;
    } else if (auto* gtv = dynamic_cast<CGTV*>(object)) {
        const bool control = gtv->state >= CCommonObject::kStateRcon;
        items = {{"Delete", &COrvaneDoc::DeleteSelectedObject},
                 {"Rcon Password", &COrvaneDoc::GTVRconPassword},
                 {"Gtv_password", &COrvaneDoc::AskObjectPassword},
                 {"Description", &COrvaneDoc::GTVDescription, control},
                 {"Close Room", &COrvaneDoc::GTVCloseRoom, control && gtv->selectedRoom != nullptr},
                 {"Move Up", &COrvaneDoc::MoveObjectUp},
                 {"Move Down", &COrvaneDoc::MoveObjectDown},
                 {"Properties", nullptr}};
        properties = true;
    } else if (object) {
        items = {{"Delete", &COrvaneDoc::DeleteSelectedObject},
                 {"Password...", &COrvaneDoc::AskObjectPassword},
                 {"Move Up", &COrvaneDoc::MoveObjectUp},
                 {"Move Down", &COrvaneDoc::MoveObjectDown},
                 {"Properies", nullptr}};
        properties = true;
    } else {
        return nullptr;
    }
    auto* menu = new QMenu(this);
    for (const Item& item : items) {
        QAction* action = menu->addAction(QString::fromLatin1(item.text));
        action->setEnabled(item.enabled);
        if (item.command) {
            COrvaneDoc* doc = &m_doc;
            const auto command = item.command;
            connect(action, &QAction::triggered, this, [doc, command](bool) { (doc->*command)(); });
        } else if (properties) {
            connect(action, &QAction::triggered, this, &COrvaneView::ObjectPropertiesRequested);
        }
    }
    return menu;
}

QString COrvaneView::ScreenshotFileName() const {
    IClock& clock = m_doc.Platform().clock;
    const std::tm local = clock.LocalTime(clock.Now());
    std::array<char, 64> name{};
    std::strftime(name.data(), name.size(), "%Y-%m-%d_%Hh%M.jpg", &local);
    return QStringLiteral("Orvane") + QString::fromLatin1(name.data());
}

bool COrvaneView::TakeScreenshot() { return SaveScreenshot(ScreenshotFileName()); }

bool COrvaneView::SaveScreenshot(const QString& path) {
    // Written under a temporary name and renamed when complete: a failed save leaves nothing behind,
    // and an earlier screenshot of the same minute is replaced only by a whole one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!view::WriteLayoutJpeg(m_doc, file)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void COrvaneView::PrintTo(QPrinter* printer) {
    QPainter p(printer);
    if (!p.isActive()) return;
    const CLayoutSize size = LayOut(m_doc);
    const QRect page = p.viewport();
    const QSize fitted = QSize(std::max(size.width, 1), std::max(size.height, 1)).scaled(page.size(), Qt::KeepAspectRatio);
    p.setViewport(page.x(), page.y(), fitted.width(), fitted.height());
    p.setWindow(0, 0, std::max(size.width, 1), std::max(size.height, 1));
    view::PaintLayout(p, m_doc, size, QRect(0, 0, size.width, size.height));
}

void COrvaneView::Print() {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) PrintTo(&printer);
}

void COrvaneView::PrintPreview() {
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, &COrvaneView::PrintTo);
    preview.exec();
}

}  // namespace orv
