// The program's settings outside the layout file (the recent-file list, the layout view's zoom), through
// named keys with their defaults. Kept in the usual per-user configuration place
// (~/.config/Orvane/Orvane.ini), or in a file of the caller's choosing.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

namespace orv {

template <class T>
struct CSettingKey {
    const char* name;
    T defaultValue;
};

class CSettings {
public:
    static constexpr int kRecentFiles = 4;
    static inline const CSettingKey<QStringList> kRecentFileList{"RecentFiles/List", {}};
    static inline const CSettingKey<double> kViewZoom{"View/Zoom", 1.0};
    // "[HOST:]PORT" of the metrics endpoint; empty: not served.
    static inline const CSettingKey<QString> kMetricsAddress{"Metrics/Address", {}};

    CSettings();
    explicit CSettings(const QString& iniFile);

    template <class T>
    T Get(const CSettingKey<T>& key) const {
        return m_store->value(QString::fromLatin1(key.name), QVariant::fromValue(key.defaultValue)).template value<T>();
    }
    template <class T>
    void Set(const CSettingKey<T>& key, const T& value) {
        m_store->setValue(QString::fromLatin1(key.name), QVariant::fromValue(value));
    }

    // Newest first, at most kRecentFiles, no duplicates.
    QStringList RecentFiles() const { return Get(kRecentFileList); }
    void AddRecentFile(const QString& path);
    void RemoveRecentFile(const QString& path);

private:
    std::unique_ptr<QSettings> m_store;
};

}  // namespace orv
