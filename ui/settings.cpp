#include "ui/settings.h"

#include <QFileInfo>

namespace orv {

CSettings::CSettings()
    : m_store(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Orvane"),
                                          QStringLiteral("Orvane"))) {}

CSettings::CSettings(const QString& iniFile) : m_store(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

void CSettings::AddRecentFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = RecentFiles();
    list.removeAll(absolute);
    list.prepend(absolute);
    while (list.size() > kRecentFiles) list.removeLast();
    Set(kRecentFileList, list);
}

void CSettings::RemoveRecentFile(const QString& path) {
    QStringList list = RecentFiles();
    list.removeAll(QFileInfo(path).absoluteFilePath());
    Set(kRecentFileList, list);
}

}  // namespace orv
