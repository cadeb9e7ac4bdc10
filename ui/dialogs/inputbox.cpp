#include "ui/dialogs/inputbox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace orv {

CInputBox::CInputBox(const QString& prompt, const QString& initial, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Orvane"));
    m_prompt = new QLabel(prompt, this);
    m_prompt->setObjectName(QStringLiteral("prompt"));
    m_prompt->setWordWrap(true);
    m_value = new QLineEdit(initial, this);
    m_value->setObjectName(QStringLiteral("value"));
    m_value->setMinimumWidth(320);
    m_value->selectAll();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_value);
    layout->addWidget(buttons);
}

QString CInputBox::Value() const { return m_value->text(); }

std::optional<QString> CInputBox::Ask(QWidget* parent, const QString& prompt, const QString& initial) {
    CInputBox box(prompt, initial, parent);
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return box.Value();
}

}  // namespace orv
