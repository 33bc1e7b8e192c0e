// The store on Windows: the registry branch of the classic per-user
// GetSetting/SaveSetting functions, read and written through QSettings.
#include "app/settings.h"
#include "app/settings_p.h"

namespace Settings::Store {

std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\")
                    + Organization + QLatin1Char('\\') + Section,
            QSettings::NativeFormat);
}

QString path()
{
    return open()->fileName();
}

void write(const QString &key, const QString &value)
{
    writeThroughQSettings(*open(), key, value);
}

} // namespace Settings::Store
