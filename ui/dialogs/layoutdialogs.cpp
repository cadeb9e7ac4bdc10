#include "ui/dialogs/layoutdialogs.h"

#include <QFormLayout>
#include <QVBoxLayout>

#include "ui/dialogs/dialogutil.h"
#include "ui/qtplatform.h"

namespace orv {

CAddZoneDialog::CAddZoneDialog(QWidget* parent) : CValuesDialog(parent) {
    setWindowTitle(QStringLiteral("Add Zone"));
    auto* form = new QFormLayout;
    name = new QLineEdit(this);
    level = NewLevelCombo(this);
    form->addRow(QStringLiteral("&Name"), name);
    form->addRow(QStringLiteral("&Level"), level);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    AddOkCancel(this);
}

std::optional<CZoneValues> CAddZoneDialog::Collect() {
    return CZoneValues{FromQString(name->text()), level->currentText().toInt()};
}

CAddGroupDialog::CAddGroupDialog(const std::vector<std::string>& zoneNames, QWidget* parent) : CValuesDialog(parent) {
    setWindowTitle(QStringLiteral("Add a Group"));
    auto* form = new QFormLayout;
    zone = NewNamesCombo(this, zoneNames, static_cast<int>(zoneNames.size()) - 1);
    name = new QLineEdit(this);
    level = NewLevelCombo(this);
    form->addRow(QStringLiteral("&Zone"), zone);
    form->addRow(QStringLiteral("&Name"), name);
    form->addRow(QStringLiteral("&Level"), level);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    AddOkCancel(this);
}

std::optional<CGroupValues> CAddGroupDialog::Collect() {
    // The level is the choice's place in the list, counted from 1 like the levels it shows.
    return CGroupValues{zone->currentIndex(), FromQString(name->text()), level->currentIndex() + 1};
}

}  // namespace orv
