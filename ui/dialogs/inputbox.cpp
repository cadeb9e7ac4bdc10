#include "ui/dialogs/inputbox.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/dialogs/dialogutil.h"

namespace orv {

CInputBox::CInputBox(const QString& prompt, const QString& initial, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Orvane"));
    auto* label = new QLabel(prompt, this);
    label->setObjectName(QStringLiteral("prompt"));
    label->setWordWrap(true);
    m_value = new QLineEdit(initial, this);
    m_value->setObjectName(QStringLiteral("value"));
    m_value->setMinimumWidth(320);
    m_value->selectAll();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_value);
    AddOkCancel(this);
}

QString CInputBox::Value() const { return m_value->text(); }

std::optional<QString> CInputBox::Ask(QWidget* parent, const QString& prompt, const QString& initial) {
    CInputBox box(prompt, initial, parent);
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return box.Value();
}

}  // namespace orv
