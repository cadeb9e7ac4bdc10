#include "ui/dialogs/objectdialogs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cstdio>

#include "ui/dialogs/dialogutil.h"
#include "ui/qtplatform.h"

namespace orv {

namespace {

void ApplyState(int state, std::initializer_list<QWidget*> widgets) {
    for (QWidget* w : widgets) {
        w->setVisible(state == kFieldShown || state == kFieldDisabled);
        w->setEnabled(state == kFieldShown);
    }
}

QLineEdit* NewPortEdit(QWidget* parent, std::uint32_t port) {
    auto* edit = new QLineEdit(QString::number(port), parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), edit));
    return edit;
}

// Rows for the shared fields, added to the form in the order of the tab chain.
void BuildCommon(QWidget* parent, QFormLayout* form, CObjectCommonFields& f, const std::vector<std::string>& groups,
                 int groupIndex, const CObjectDialogValues& initial) {
    f.group = NewNamesCombo(parent, groups, groupIndex);
    form->addRow(QStringLiteral("&Group"), f.group);
    f.rconLabel = new QLabel(QStringLiteral("&rcon"), parent);
    f.rcon = new QLineEdit(ToQString(initial.rconPassword), parent);
    f.rconLabel->setBuddy(f.rcon);
    form->addRow(f.rconLabel, f.rcon);
    f.proxyPasswordLabel = new QLabel(QStringLiteral("Pro&xy Password"), parent);
    f.proxyPassword = new QLineEdit(ToQString(initial.proxyPassword), parent);
    f.proxyPasswordLabel->setBuddy(f.proxyPassword);
    form->addRow(f.proxyPasswordLabel, f.proxyPassword);
    f.exportToWeb = new QCheckBox(QStringLiteral("Export to &web"), parent);
    f.exportToWeb->setChecked(initial.exportToWeb);
    f.autoRecord = new QCheckBox(QStringLiteral("A&uto record match"), parent);
    f.autoRecord->setChecked(initial.autoRecord);
}

// What the shared fields hold, into either dialog's values.
template <class Values>
void CollectCommon(const CObjectCommonFields& f, Values& v) {
    v.groupIndex = f.group->currentIndex();
    v.rconPassword = FromQString(f.rcon->text());
    v.proxyPassword = FromQString(f.proxyPassword->text());
    v.exportToWeb = f.exportToWeb->isChecked();
    v.autoRecord = f.autoRecord->isChecked();
}

void ApplyCommonStates(CObjectCommonFields& f, const CObjectFieldStates& s) {
    ApplyState(s.exportToWeb, {f.exportToWeb});
    ApplyState(s.rcon, {f.rcon, f.rconLabel});
    ApplyState(s.autoRecord, {f.autoRecord});
    ApplyState(s.proxyPassword, {f.proxyPassword, f.proxyPasswordLabel});
}

}  // namespace

CObjectDialog::CObjectDialog(const std::vector<std::string>& groupLabels, const CObjectDialogValues& initial,
                             const CObjectFieldStates& states, bool properties, IPrompter& prompter, QWidget* parent)
    : CValuesDialog(parent),
      m_prompter(prompter),
      m_externalState(states.external),
      m_properties(properties),
      m_initialPort(initial.port) {
    setWindowTitle(QStringLiteral("Add one object"));
    auto* form = new QFormLayout;
    address = new QLineEdit(ToQString(initial.host), this);
    port = NewPortEdit(this, initial.port);
    form->addRow(QStringLiteral("&Address"), address);
    form->addRow(QStringLiteral("&Port"), port);
    address->setEnabled(!properties);
    port->setEnabled(!properties);
    BuildCommon(this, form, common, groupLabels, initial.groupIndex, initial);

    external = new QCheckBox(QStringLiteral("&External Address"), this);
    external->setChecked(initial.external);
    externalHost = new QLineEdit(ToQString(initial.externalHost), this);
    externalPort = NewPortEdit(this, initial.externalPort);
    auto* externalRow = new QHBoxLayout;
    externalRow->addWidget(external);
    externalRow->addWidget(externalHost, 1);
    externalRow->addWidget(externalPort);
    form->addRow(externalRow);
    form->addRow(common.exportToWeb);
    form->addRow(common.autoRecord);

    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    AddOkCancel(this);

    // The tab chain follows the rows as they are shown.
    QWidget* chain[] = {common.proxyPassword, external,           externalHost,
                        externalPort,         common.exportToWeb, common.autoRecord};
    for (size_t i = 1; i < std::size(chain); ++i) setTabOrder(chain[i - 1], chain[i]);

    ApplyCommonStates(common, states);
    ApplyState(states.external, {external, externalHost, externalPort});
    connect(external, &QCheckBox::toggled, this, [this] { UpdateExternalFields(); });
    UpdateExternalFields();
}

void CObjectDialog::UpdateExternalFields() {
    const bool on = m_externalState == kFieldShown && external->isChecked();
    externalHost->setEnabled(on);
    externalPort->setEnabled(on);
}

std::optional<CObjectDialogValues> CObjectDialog::Collect() {
    CObjectDialogValues v;
    // Properties never change the address: a port a file brought from outside the range does not stop them.
    const auto portValue = m_properties ? std::optional(m_initialPort) : ReadPort(port, m_prompter);
    if (!portValue) return std::nullopt;
    v.host = FromQString(address->text().trimmed());
    v.port = *portValue;
    v.external = external->isChecked();
    if (v.external) {
        const auto extPort = ReadPort(externalPort, m_prompter);
        if (!extPort) return std::nullopt;
        v.externalHost = FromQString(externalHost->text().trimmed());
        v.externalPort = *extPort;
    } else {
        // Without an external address the object is reached at its own.
        v.externalHost = v.host;
        v.externalPort = v.port;
    }
    CollectCommon(common, v);
    return v;
}

CRangeDialog::CRangeDialog(const std::vector<std::string>& groupLabels, int groupIndex, const std::string& lastAddress,
                           std::uint32_t port, const CObjectFieldStates& states, const CObjectDialogValues& initial,
                           IPrompter& prompter, QWidget* parent)
    : CValuesDialog(parent), m_prompter(prompter) {
    setWindowTitle(QStringLiteral("Add a range of object"));
    unsigned a, b, c, d;
    char tail;
    const bool dotted = std::sscanf(lastAddress.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) == 4;
    const QString start = dotted ? ToQString(lastAddress) : QString();
    auto* form = new QFormLayout;
    const QRegularExpression ipv4(QStringLiteral("[0-9.]{0,15}"));
    addressFrom = new QLineEdit(start, this);
    addressTo = new QLineEdit(start, this);
    for (QLineEdit* e : {addressFrom, addressTo}) e->setValidator(new QRegularExpressionValidator(ipv4, e));
    portFrom = NewPortEdit(this, port);
    portTo = NewPortEdit(this, port);
    form->addRow(QStringLiteral("Address &from"), addressFrom);
    form->addRow(QStringLiteral("Address &to"), addressTo);
    form->addRow(QStringLiteral("P&ort from"), portFrom);
    form->addRow(QStringLiteral("Port t&o"), portTo);
    BuildCommon(this, form, common, groupLabels, groupIndex < 0 ? 0 : groupIndex, initial);
    form->addRow(common.exportToWeb);
    form->addRow(common.autoRecord);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    AddOkCancel(this);
    ApplyCommonStates(common, states);
}

std::optional<CRangeDialogValues> CRangeDialog::Collect() {
    const auto first = ReadPort(portFrom, m_prompter);
    if (!first) return std::nullopt;
    const auto last = ReadPort(portTo, m_prompter);
    if (!last) return std::nullopt;
    CRangeDialogValues v;
    v.range = CheckAddressRange(m_prompter, FromQString(addressFrom->text().trimmed()),
                                FromQString(addressTo->text().trimmed()), *first, *last);
    CollectCommon(common, v);
    return v;
}

}  // namespace orv
