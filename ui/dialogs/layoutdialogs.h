// The layout's dialogs: "Add Zone" and "Add a Group".
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <string>
#include <vector>

#include "ui/dialogs/valuesdialog.h"

namespace orv {

struct CZoneValues {
    std::string name;
    int level = 1;
};

class CAddZoneDialog : public CValuesDialog<CZoneValues> {
public:
    explicit CAddZoneDialog(QWidget* parent = nullptr);
    QLineEdit* name;
    QComboBox* level;  // "1" to "5"

protected:
    std::optional<CZoneValues> Collect() override;
};

struct CGroupValues {
    int zoneIndex = 0;  // index in the zone names given to the dialog
    std::string name;
    int level = 1;
};

class CAddGroupDialog : public CValuesDialog<CGroupValues> {
public:
    // The zones in list order; the last one is chosen first.
    CAddGroupDialog(const std::vector<std::string>& zoneNames, QWidget* parent = nullptr);
    QComboBox* zone;
    QLineEdit* name;
    QComboBox* level;

protected:
    std::optional<CGroupValues> Collect() override;
};

}  // namespace orv
