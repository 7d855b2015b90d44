#pragma once

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

// What a GUI benchmark sets up before its application object: the offscreen platform unless
// QT_QPA_PLATFORM names another, and settings kept in a temporary folder, so a run never reads or
// writes the user's own.
class GuiBenchSettings
{
public:
    GuiBenchSettings()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};
