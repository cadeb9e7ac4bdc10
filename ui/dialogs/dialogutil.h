// Small pieces every dialog shares: the OK/Cancel row, the level drop-down and the checked number field.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "base/platform.h"

namespace orv {

// OK and Cancel at the foot of the dialog; OK runs the dialog's accept(), which checks before closing.
QDialogButtonBox* AddOkCancel(QDialog* dialog);
// "1" to "5".
QComboBox* NewLevelCombo(QWidget* parent);
QComboBox* NewNamesCombo(QWidget* parent, const std::vector<std::string>& names, int selected);
// The field's whole number when it lies in lo..hi; otherwise "Please enter an integer between %1 and %2."
// through the prompter, the focus goes back to the field, and nothing is returned.
std::optional<long long> ReadInteger(QLineEdit* field, long long lo, long long hi, IPrompter& prompter);
// A port: 1 to 65535 ("Please enter an integer between 1 and 65535." otherwise).
constexpr long long kMinPort = 1, kMaxPort = 65535;
std::optional<std::uint32_t> ReadPort(QLineEdit* field, IPrompter& prompter);

}  // namespace orv
