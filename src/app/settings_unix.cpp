// The store on Unix: an INI file in the user's configuration folder, read
// through QSettings and written by writeIniFile (settings_inifile.cpp).
#include "app/settings.h"
#include "app/settings_inifile.h"
#include "app/settings_p.h"

#include <QFileInfo>

namespace Settings::Store {

QString path()
{
    // Asks QSettings for the folder without opening the store itself (which
    // may be a FIFO that would block the read): the organisation-wide file
    // lies in the same folder as the store's folder, and QSettings reads it
    // anyway whenever it opens the store.
    const QSettings folder(QSettings::NativeFormat, QSettings::UserScope, Organization);
    return QFileInfo(folder.fileName()).absolutePath() + QLatin1Char('/') + Organization
            + QLatin1Char('/') + Section + QStringLiteral(".conf");
}

std::unique_ptr<QSettings> open()
{
    const QFileInfo file(path());
    if (file.exists() && !file.isFile())
        return nullptr;
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, Organization,
                                       Section);
}

void write(const QString &key, const QString &value)
{
    writeIniFile(path(), key, value);
}

} // namespace Settings::Store
