#include "ui/view/orvaneview.h"

#include <QAction>
#include <QImageWriter>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QScrollBar>
#include <QToolTip>
#include <array>

#include "base/strutil.h"
#include "document/metrics.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "ui/view/layoutpainter.h"
#include "ui/view/objectpainters.h"

namespace orv {

COrvaneView::COrvaneView(COrvaneDoc& doc, QWidget* parent) : QAbstractScrollArea(parent), m_doc(doc) {
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_doc.AddView(this);
    Rebuild();
}

COrvaneView::~COrvaneView() { m_doc.RemoveView(this); }

void COrvaneView::OnUpdate(int hint) {
    if (m_dragged) {
        m_updateAfterDrag = true;
        return;
    }
    // A changed layout (54) is painted anew; the periodic refresh and the selection (13) and plain
    // redraws (0) repaint the objects over the kept picture while the layout's geometry is unchanged.
    Rebuild(hint != kHintLayoutChanged);
}

void COrvaneView::Rebuild(bool refresh) {
    if (refresh) m_picture.Refresh(m_doc);
    else m_picture.Repaint(m_doc);
    UpdateScrollRange();
    viewport()->update();
}

void COrvaneView::UpdateScrollRange() {
    const QSize page = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, LayoutSize().width - page.width()));
    horizontalScrollBar()->setPageStep(page.width());
    verticalScrollBar()->setRange(0, std::max(0, LayoutSize().height - page.height()));
    verticalScrollBar()->setPageStep(page.height());
}

void COrvaneView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

void COrvaneView::scrollContentsBy(int, int) { viewport()->update(); }

QPoint COrvaneView::ToLayout(const QPoint& viewportPos) const {
    return viewportPos + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void COrvaneView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QPoint offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    // Where the picture does not reach, the window's own background.
    const QRect picture(-offset, Picture().size());
    const QRegion outside = QRegion(viewport()->rect()).subtracted(picture);
    for (const QRect& r : outside) p.fillRect(r, palette().window());
    p.drawImage(picture.topLeft(), Picture());
    if (!m_dragged) return;
    // The drag is drawn over the picture of its start: the dragged proxy and the target highlighted, and
    // the rubber line from the dragged proxy's icon to the pointer.
    p.translate(-offset);
    view::PaintObject(p, *m_dragged, view::CBoxStyle::Highlighted);
    if (m_target) view::PaintObject(p, *m_target, view::CBoxStyle::Highlighted);
    p.setPen(QPen(QColor(100, 100, 100), 4));
    p.drawLine(m_lineStart, m_lineEnd);
}

void COrvaneView::mousePressEvent(QMouseEvent* event) {
    if (m_dragged) return;
    const QPoint at = ToLayout(event->position().toPoint());
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    SelectAt(m_doc, at.x(), at.y());
    if (event->button() == Qt::RightButton) {
        std::unique_ptr<QMenu> menu(CreateContextMenu());
        if (menu) menu->exec(event->globalPosition().toPoint());
        return;
    }
    CCommonObject* selected = m_doc.selectedObject;
    if (!selected || !selected->RconAccepted()) return;
    m_dragged = selected;
    m_target = nullptr;
    m_lineStart = m_lineEnd = QPoint((selected->iconRect.left + selected->iconRect.right) / 2,
                                     (selected->iconRect.top + selected->iconRect.bottom) / 2);
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
    m_lineEnd = ToLayout(pos);
    m_target = DropTargetAt(m_doc, m_dragged, m_lineEnd.x(), m_lineEnd.y());
    AutoScroll(pos);
    viewport()->update();
}

void COrvaneView::AutoScroll(const QPoint& viewportPos) {
    // Only when the layout is taller than the window: a step up or down while the pointer is beyond it.
    if (LayoutSize().height <= viewport()->height()) return;
    QScrollBar* bar = verticalScrollBar();
    if (viewportPos.y() < 0) bar->setValue(bar->value() - kAutoScrollStep);
    else if (viewportPos.y() >= viewport()->height()) bar->setValue(bar->value() + kAutoScrollStep);
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
    m_dragged = m_target = nullptr;
    const bool missedUpdate = m_updateAfterDrag;
    m_updateAfterDrag = false;
    if (target && StillInLayout(dragged)) dragged->OnDrop(target);
    // An update refused during the drag is caught up with a whole new picture; otherwise the refresh
    // repaints what the drop changed (the proxy's link line).
    Rebuild(!missedUpdate);
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
    if (!m_dragged) Rebuild();
    // Written under a temporary name and renamed when complete: a failed save leaves nothing behind,
    // and an earlier screenshot of the same minute is replaced only by a whole one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&file, "jpg");
    if (!writer.write(Picture())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void COrvaneView::PrintTo(QPrinter* printer) {
    QPainter p(printer);
    if (!p.isActive() || Picture().isNull()) return;
    const QRect page = p.viewport();
    const QSize fitted = Picture().size().scaled(page.size(), Qt::KeepAspectRatio);
    p.setViewport(page.x(), page.y(), fitted.width(), fitted.height());
    p.setWindow(Picture().rect());
    p.drawImage(0, 0, Picture());
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
