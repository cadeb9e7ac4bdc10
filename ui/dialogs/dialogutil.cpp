#include "ui/dialogs/dialogutil.h"

#include <QLayout>

#include "ui/qtplatform.h"

namespace orv {

QDialogButtonBox* AddOkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->setObjectName(QStringLiteral("buttons"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    if (dialog->layout()) dialog->layout()->addWidget(buttons);
    return buttons;
}

QComboBox* NewLevelCombo(QWidget* parent) {
    auto* combo = new QComboBox(parent);
    for (int level = 1; level <= 5; ++level) combo->addItem(QString::number(level));
    return combo;
}

QComboBox* NewNamesCombo(QWidget* parent, const std::vector<std::string>& names, int selected) {
    auto* combo = new QComboBox(parent);
    for (const auto& name : names) combo->addItem(ToQString(name));
    if (selected >= 0 && selected < combo->count()) combo->setCurrentIndex(selected);
    return combo;
}

std::optional<long long> ReadInteger(QLineEdit* field, long long lo, long long hi, IPrompter& prompter) {
    bool ok = false;
    const long long value = field->text().trimmed().toLongLong(&ok);
    if (ok && value >= lo && value <= hi) return value;
    prompter.Message(FromQString(QStringLiteral("Please enter an integer between %1 and %2.").arg(lo).arg(hi)));
    field->setFocus();
    field->selectAll();
    return std::nullopt;
}

std::optional<std::uint32_t> ReadPort(QLineEdit* field, IPrompter& prompter) {
    const auto port = ReadInteger(field, kMinPort, kMaxPort, prompter);
    if (!port) return std::nullopt;
    return static_cast<std::uint32_t>(*port);
}

}  // namespace orv
