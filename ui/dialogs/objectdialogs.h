// "Add one object" (also the properties of an object) and "Add a range of object". The optional field
// groups are shown, shown greyed or hidden as the caller says for the kind.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <cstdint>
#include <string>
#include <vector>

#include "base/platform.h"
#include "document/document.h"
#include "ui/dialogs/valuesdialog.h"

namespace orv {

// State of an optional field group.
enum : int { kFieldHidden = 0, kFieldShown = 1, kFieldDisabled = 2 };

struct CObjectFieldStates {
    int exportToWeb = kFieldHidden;
    int rcon = kFieldShown;
    int external = kFieldHidden;  // the "External Address" box with its address and port
    int autoRecord = kFieldHidden;
    int proxyPassword = kFieldHidden;
};

struct CObjectDialogValues {
    std::string host;
    std::uint32_t port = 0;
    int groupIndex = -1;  // index in the group labels given to the dialog
    std::string rconPassword;
    std::string proxyPassword;
    bool external = false;  // external address given; otherwise it is the object's own address
    std::string externalHost;
    std::uint32_t externalPort = 0;
    bool exportToWeb = false;
    bool autoRecord = false;
};

// The parts both object dialogs share: group, rcon, proxy password, export and auto record.
struct CObjectCommonFields {
    QComboBox* group = nullptr;
    QLabel* rconLabel = nullptr;
    QLineEdit* rcon = nullptr;
    QLabel* proxyPasswordLabel = nullptr;
    QLineEdit* proxyPassword = nullptr;
    QCheckBox* exportToWeb = nullptr;
    QCheckBox* autoRecord = nullptr;
};

class CObjectDialog : public CValuesDialog<CObjectDialogValues> {
public:
    // Group labels are "zone/group". In properties mode address and port are shown but cannot be changed.
    CObjectDialog(const std::vector<std::string>& groupLabels, const CObjectDialogValues& initial,
                  const CObjectFieldStates& states, bool properties, IPrompter& prompter, QWidget* parent = nullptr);

    QLineEdit* address;
    QLineEdit* port;
    CObjectCommonFields common;
    QCheckBox* external;
    QLineEdit* externalHost;
    QLineEdit* externalPort;

protected:
    std::optional<CObjectDialogValues> Collect() override;

private:
    void UpdateExternalFields();

    IPrompter& m_prompter;
    int m_externalState;
    bool m_properties;
    std::uint32_t m_initialPort;
};

struct CRangeDialogValues {
    CAddressRange range;  // valid only when both checks passed
    int groupIndex = -1;
    std::string rconPassword;
    std::string proxyPassword;
    bool exportToWeb = false;
    bool autoRecord = false;
};

class CRangeDialog : public CValuesDialog<CRangeDialogValues> {
public:
    // Both addresses start from the last address when it is dotted; both ports from the kind's port.
    CRangeDialog(const std::vector<std::string>& groupLabels, int groupIndex, const std::string& lastAddress,
                 std::uint32_t port, const CObjectFieldStates& states, const CObjectDialogValues& initial,
                 IPrompter& prompter, QWidget* parent = nullptr);

    QLineEdit* addressFrom;
    QLineEdit* addressTo;
    QLineEdit* portFrom;
    QLineEdit* portTo;
    CObjectCommonFields common;

protected:
    // Closes in every case once the ports are ports; the range says whether it may be added.
    std::optional<CRangeDialogValues> Collect() override;

private:
    IPrompter& m_prompter;
};

}  // namespace orv
