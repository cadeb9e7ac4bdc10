#include "ui/dialogs/moduledialogs.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "net/metricsserver.h"
#include "ui/dialogs/dialogutil.h"
#include "ui/qtplatform.h"

namespace orv {

CVuzuVedDialog::CVuzuVedDialog(const CVuzuVedValues& initial, IPrompter& prompter, QWidget* parent)
    : CValuesDialog(parent), m_prompter(prompter) {
    setWindowTitle(QStringLiteral("VuzuVed Config"));
    auto* top = new QVBoxLayout(this);
    enabled = new QCheckBox(QStringLiteral("&Enable VuzuVed Module"), this);
    enabled->setChecked(initial.enabled);
    top->addWidget(enabled);
    auto* form = new QFormLayout;
    server = new QLineEdit(ToQString(initial.server), this);
    login = new QLineEdit(ToQString(initial.login), this);
    password = new QLineEdit(ToQString(initial.password), this);
    password->setEchoMode(QLineEdit::Password);
    remoteFilename = new QLineEdit(ToQString(initial.remoteFilename), this);
    interval = new QLineEdit(QString::number(initial.interval), this);
    auto* intervalLabel = new QLabel(QStringLiteral("Update &interval in seconds"), this);
    intervalLabel->setBuddy(interval);
    const bool outOfRange = initial.interval < kMinInterval || initial.interval > kMaxInterval;
    interval->setEnabled(outOfRange);
    intervalLabel->setEnabled(outOfRange);
    form->addRow(QStringLiteral("FTP &Server"), server);
    form->addRow(QStringLiteral("&Login"), login);
    form->addRow(QStringLiteral("&Password"), password);
    form->addRow(QStringLiteral("&Remote Filename"), remoteFilename);
    form->addRow(intervalLabel, interval);
    top->addLayout(form);
    AddOkCancel(this);
}

std::optional<CVuzuVedValues> CVuzuVedDialog::Collect() {
    bool ok = false;
    const long long typed = interval->text().trimmed().toLongLong(&ok);
    // A value the operator cannot type over must still be correctable: the field is enabled before the
    // refusal puts the focus in it (a disabled field takes no focus).
    if (!ok || typed < kMinInterval || typed > kMaxInterval) interval->setEnabled(true);
    const auto seconds = ReadInteger(interval, kMinInterval, kMaxInterval, m_prompter);
    if (!seconds) return std::nullopt;
    CVuzuVedValues v;
    v.enabled = enabled->isChecked();
    v.server = FromQString(server->text());
    v.login = FromQString(login->text());
    v.password = FromQString(password->text());
    v.remoteFilename = FromQString(remoteFilename->text());
    v.interval = static_cast<std::int32_t>(*seconds);
    return v;
}

CAdminBotDialog::CAdminBotDialog(bool enabledNow, QWidget* parent) : CValuesDialog(parent) {
    setWindowTitle(QStringLiteral("Adminbot module"));
    auto* top = new QVBoxLayout(this);
    auto* text =
        new QLabel(QStringLiteral("The AdminBot module need the HL servers to be controled by AdminBot-mx pluggin.\n\n"
                                  "Enabling it unlocks the auto-record options of the HLTV proxies and makes the "
                                  "VuzuVed information more accurate."),
                   this);
    text->setWordWrap(true);
    top->addWidget(text);
    enabled = new QCheckBox(QStringLiteral("&Enable Adminbot module"), this);
    enabled->setChecked(enabledNow);
    top->addWidget(enabled);
    AddOkCancel(this);
}

CNetDetectDialog::CNetDetectDialog(const std::vector<std::string>& zoneNames, const CNetDetectValues& initial,
                                   IPrompter& prompter, QWidget* parent)
    : CValuesDialog(parent), m_prompter(prompter) {
    setWindowTitle(QStringLiteral("GTV network Autodetection"));
    auto* top = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("The GTV proxies listed in the chains of the answering GTV proxies are "
                                           "added to the layout as they are found, in the zone chosen below."),
                            this);
    text->setWordWrap(true);
    top->addWidget(text);
    enabled = new QCheckBox(QStringLiteral("&Enable GTV network Autodetection module"), this);
    enabled->setChecked(initial.enabled);
    top->addWidget(enabled);
    auto* form = new QFormLayout;
    zone = NewNamesCombo(this, zoneNames, initial.zoneIndex < 0 ? 0 : initial.zoneIndex);
    form->addRow(QStringLiteral("&Zone to add new GTV:"), zone);
    top->addLayout(form);
    auto* box = new QGroupBox(QStringLiteral("New GTV properties"), this);
    auto* boxLayout = new QVBoxLayout(box);
    exportToWeb = new QCheckBox(QStringLiteral("Export to &Web"), box);
    exportToWeb->setChecked(initial.exportToWeb);
    boxLayout->addWidget(exportToWeb);
    top->addWidget(box);
    AddOkCancel(this);
}

std::optional<CNetDetectValues> CNetDetectDialog::Collect() {
    CNetDetectValues v;
    v.enabled = enabled->isChecked();
    v.zoneIndex = v.enabled ? zone->currentIndex() : -1;
    if (v.enabled && v.zoneIndex < 0) {
        m_prompter.Message(kNoZoneRefusal);
        zone->setFocus();
        return std::nullopt;
    }
    v.exportToWeb = exportToWeb->isChecked();
    return v;
}

CPreferencesDialog::CPreferencesDialog(const CPreferencesValues& initial, std::int64_t neededRate, IPrompter& prompter,
                                       QWidget* parent)
    : CValuesDialog(parent),
      m_prompter(prompter),
      m_initialLimit(QString::number(initial.limitKbps.value_or(0))),
      m_neededRate(neededRate) {
    setWindowTitle(QStringLiteral("Preferences"));
    auto* top = new QVBoxLayout(this);
    sound = new QCheckBox(QStringLiteral("Enable &Sound when match start/stop"), this);
    sound->setChecked(initial.sound);
    top->addWidget(sound);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Limit UDP Output bandwith"), this);
    limit = new QLineEdit(m_initialLimit, this);
    label->setBuddy(limit);
    row->addWidget(label);
    row->addWidget(limit);
    row->addWidget(new QLabel(QStringLiteral("kbps"), this));
    top->addLayout(row);
    warning = new QLabel(this);
    warning->setWordWrap(true);
    warning->setStyleSheet(QStringLiteral("color: #c00000"));
    top->addWidget(warning);
    // Metrics endpoint: off while empty.
    auto* metricsRow = new QHBoxLayout;
    auto* metricsLabel = new QLabel(QStringLiteral("Serve &metrics on [host:]port"), this);
    metrics = new QLineEdit(initial.metricsAddress, this);
    metrics->setObjectName(QStringLiteral("metricsAddress"));
    metrics->setPlaceholderText(QStringLiteral("off (for instance 127.0.0.1:9815)"));
    metricsLabel->setBuddy(metrics);
    metricsRow->addWidget(metricsLabel);
    metricsRow->addWidget(metrics);
    top->addLayout(metricsRow);
    AddOkCancel(this);
    connect(limit, &QLineEdit::textChanged, this, [this] { UpdateWarning(); });
    UpdateWarning();
}

void CPreferencesDialog::UpdateWarning() {
    bool ok = false;
    const long long kbps = limit->text().trimmed().toLongLong(&ok);
    const long long neededKbps = (m_neededRate + 1023) / 1024;
    warning->setText(
        ok && kbps < neededKbps  // kbps * 1024 below the need, without overflowing on a long entry
            ? QStringLiteral("This layout needs %1 kbps: below that, servers are polled less often.").arg(neededKbps)
            : QString());
}

std::optional<CPreferencesValues> CPreferencesDialog::Collect() {
    const QString address = metrics->text().trimmed();
    std::string error;
    if (!address.isEmpty() && !ParseListenAddress(address.toStdString(), error)) {
        m_prompter.Message("Metrics " + error);
        metrics->setFocus();
        return std::nullopt;
    }
    // The figure as it came (a file may hold any limit) is kept; a new one must lie in the range.
    if (limit->text().trimmed() == m_initialLimit) return CPreferencesValues{sound->isChecked(), std::nullopt, address};
    const auto kbps = ReadInteger(limit, kMinKbps, kMaxKbps, m_prompter);
    if (!kbps) return std::nullopt;
    return CPreferencesValues{sound->isChecked(), static_cast<std::int32_t>(*kbps), address};
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Orvane"));
    auto* top = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/orvane.svg")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* texts = new QVBoxLayout;
    auto* version = new QLabel(VersionLine(QStringLiteral(ORVANE_VERSION)), this);
    version->setObjectName(QStringLiteral("version"));
    texts->addWidget(version);
    texts->addWidget(
        new QLabel(QStringLiteral("Made by the Orvane developers for the operators of e-sports broadcasts."), this));
    auto* link = new QLabel(QStringLiteral("<a href=\"https://orvane.example.org/\">orvane.example.org</a>"), this);
    link->setOpenExternalLinks(true);
    texts->addWidget(link);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    texts->addWidget(buttons);
    top->addLayout(texts);
}

QString CAboutDialog::VersionLine(const QString& version) {
    const QStringList parts = version.split(QLatin1Char('.'));
    const int major = parts.value(0).toInt();
    const int minor = parts.value(1).toInt();
    const int patch = parts.value(2).toInt();
    QString line = QStringLiteral("Rizovezezi Rodaze Orvane Version %1.%2").arg(major).arg(minor);
    if (patch != 0) line += QStringLiteral(" Beta %1").arg(patch);
    return line;
}

}  // namespace orv
