// The modules' dialogs: "VuzuVed Config", "Adminbot module", "GTV network Autodetection"; and the
// program's own: "Preferences" and "About Orvane".
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <cstdint>
#include <string>
#include <vector>

#include "base/platform.h"
#include "document/document.h"
#include "ui/dialogs/valuesdialog.h"

namespace orv {

using CVuzuVedValues = COrvaneDoc::CVuzuVedSettings;

class CVuzuVedDialog : public CValuesDialog<CVuzuVedValues> {
public:
    static constexpr long long kMinInterval = 10;
    static constexpr long long kMaxInterval = 99999999;

    CVuzuVedDialog(const CVuzuVedValues& initial, IPrompter& prompter, QWidget* parent = nullptr);
    QCheckBox* enabled;
    QLineEdit* server;
    QLineEdit* login;
    QLineEdit* password;
    QLineEdit* remoteFilename;
    // Shown but fixed, unless the stored value is outside the accepted range: then it can be corrected.
    QLineEdit* interval;

protected:
    std::optional<CVuzuVedValues> Collect() override;

private:
    IPrompter& m_prompter;
};

class CAdminBotDialog : public CValuesDialog<bool> {
public:
    explicit CAdminBotDialog(bool enabledNow, QWidget* parent = nullptr);
    QCheckBox* enabled;

protected:
    std::optional<bool> Collect() override { return enabled->isChecked(); }
};

struct CNetDetectValues {
    bool enabled = false;
    int zoneIndex = -1;  // index in the zone names; -1 when disabled
    bool exportToWeb = false;
};

class CNetDetectDialog : public CValuesDialog<CNetDetectValues> {
public:
    static constexpr const char* kNoZoneRefusal =
        "The module adds the GTV proxies it finds to a zone: choose a zone, or leave the module disabled.";

    CNetDetectDialog(const std::vector<std::string>& zoneNames, const CNetDetectValues& initial, IPrompter& prompter,
                     QWidget* parent = nullptr);
    QCheckBox* enabled;
    QComboBox* zone;
    QCheckBox* exportToWeb;

protected:
    // Refuses the module enabled without a zone: it could do nothing but complain.
    std::optional<CNetDetectValues> Collect() override;

private:
    IPrompter& m_prompter;
};

struct CPreferencesValues {
    bool sound = true;
    // Nothing when the figure shown was left as it was: the limit then stays exactly as it is, even one
    // outside the range a new figure must keep to.
    std::optional<std::int32_t> limitKbps = 10;
    // Metrics endpoint: "[HOST:]PORT" to serve GET /metrics on, empty for none (kept in the settings).
    QString metricsAddress;
};

class CPreferencesDialog : public CValuesDialog<CPreferencesValues> {
public:
    static constexpr long long kMinKbps = 2;
    static constexpr long long kMaxKbps = 100000;

    // neededRate: what the layout's polling needs, in bits per second; a lower figure is warned about.
    CPreferencesDialog(const CPreferencesValues& initial, std::int64_t neededRate, IPrompter& prompter,
                       QWidget* parent = nullptr);
    QCheckBox* sound;
    QLineEdit* limit;
    QLabel* warning;  // empty while the figure is enough for the layout
    QLineEdit* metrics;

protected:
    std::optional<CPreferencesValues> Collect() override;

private:
    void UpdateWarning();

    IPrompter& m_prompter;
    QString m_initialLimit;
    std::int64_t m_neededRate;
};

class CAboutDialog : public QDialog {
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    // "Rizovezezi Rodaze Orvane Version %d.%d", and " Beta %d" for a build with a patch number.
    static QString VersionLine(const QString& version);
};

}  // namespace orv
