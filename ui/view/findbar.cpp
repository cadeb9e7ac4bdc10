#include "ui/view/findbar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "document/layoutpass.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/quake3/gtv.h"
#include "ui/qtplatform.h"
#include "ui/view/orvaneview.h"

namespace orv {

std::vector<CCommonObject*> FindObjects(const COrvaneDoc& doc, const QString& text) {
    std::vector<CCommonObject*> found;
    if (text.isEmpty()) return found;
    const auto holds = [&text](const std::string& s) {
        return !s.empty() && ToQString(s).contains(text, Qt::CaseInsensitive);
    };
    for (const auto& object : doc.objects) {
        const CCommonObject& o = *object;
        if (o.box.Width() <= 0) continue;  // not placed: nothing to show
        bool hit = holds(o.serverName) || holds(o.AddressString()) || holds(o.host);
        if (const auto* hl = dynamic_cast<const CHLServer*>(&o)) hit = hit || holds(hl->map);
        if (const auto* gtv = dynamic_cast<const CGTV*>(&o))
            for (int i = 0; i < gtv->roomCount && !hit; ++i) hit = holds(gtv->rooms[static_cast<size_t>(i)].map);
        if (hit) found.push_back(object.get());
    }
    return found;
}

CFindBar::CFindBar(COrvaneDoc& doc, COrvaneView& view, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_view(view), m_edit(new QLineEdit(this)), m_count(new QLabel(this)) {
    setObjectName(QStringLiteral("findBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(new QLabel(QStringLiteral("Find:"), this));
    m_edit->setObjectName(QStringLiteral("findText"));
    m_edit->setPlaceholderText(QStringLiteral("Server name, address or map"));
    m_edit->installEventFilter(this);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_count);
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("\u00d7"));
    close->setToolTip(QStringLiteral("Close the find bar (Escape)"));
    layout->addWidget(close);
    connect(close, &QToolButton::clicked, this, &CFindBar::Close);
    connect(m_edit, &QLineEdit::textEdited, this, [this] { Search(true); });
    // A changed layout drops the view's marks: they are found again, the selection left alone.
    connect(&m_view, &COrvaneView::LayoutChanged, this, [this] {
        if (isVisible()) Search(false);
    });
    hide();
}

void CFindBar::Open() {
    show();
    m_edit->setFocus();
    m_edit->selectAll();
}

void CFindBar::Close() {
    hide();
    m_matches.clear();
    m_current = -1;
    m_view.SetFound({});
    m_view.setFocus();
}

void CFindBar::Search(bool select) {
    m_matches = FindObjects(m_doc, m_edit->text());
    m_view.SetFound({m_matches.begin(), m_matches.end()});
    const int last = static_cast<int>(m_matches.size()) - 1;
    m_current = select ? std::min(0, last) : std::min(std::max(m_current, 0), last);
    if (select && m_current >= 0) SelectCurrent();
    ShowCount();
}

void CFindBar::Step(int direction) {
    if (m_matches.empty()) return;
    const int n = static_cast<int>(m_matches.size());
    m_current = ((m_current + direction) % n + n) % n;
    SelectCurrent();
    ShowCount();
}

void CFindBar::SelectCurrent() {
    CCommonObject& object = *m_matches[static_cast<size_t>(m_current)];
    m_view.ShowObject(object);
    SelectObject(m_doc, &object);
}

void CFindBar::ShowCount() {
    if (m_edit->text().isEmpty()) m_count->clear();
    else if (m_matches.empty()) m_count->setText(QStringLiteral("No match"));
    else m_count->setText(QStringLiteral("%1 of %2").arg(m_current + 1).arg(m_matches.size()));
}

bool CFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_edit || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        Step(key->modifiers() & Qt::ShiftModifier ? -1 : 1);
        return true;
    }
    if (key->key() == Qt::Key_Escape) {
        Close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace orv
