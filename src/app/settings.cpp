#include "app/settings.h"

#include "app/runtimeerror.h"

#include <QSettings>
#include <QStringList>

#include <memory>

namespace {

std::unique_ptr<QSettings> openStore()
{
#ifdef Q_OS_WIN
    // The branch the classic per-user GetSetting/SaveSetting functions use.
    return std::make_unique<QSettings>(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\")
                    + Settings::Organization + QLatin1Char('\\') + Settings::Section,
            QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       Settings::Organization, Settings::Section);
#endif
}

// QSettings compares keys case-sensitively on this platform; the store must
// not, so look for an existing spelling of the key first.
QString storedSpelling(const QSettings &store, const QString &key)
{
    if (store.contains(key))
        return key;
    const QStringList keys = store.allKeys();
    for (const QString &candidate : keys) {
        if (candidate.compare(key, Qt::CaseInsensitive) == 0)
            return candidate;
    }
    return {};
}

QString toText(const QVariant &value)
{
    // A hand-edited line such as "Text1=A,B" comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

RuntimeError unreadableStore(const QString &key, const QString &file)
{
    return RuntimeError(QStringLiteral("The setting %1 could not be saved: %2 cannot be read as a "
                                       "settings file, so it was left unchanged.")
                                .arg(key, file));
}

} // namespace

namespace Settings {

QString get(const QString &key, const QString &defaultValue)
{
    const auto store = openStore();
    const QString spelling = storedSpelling(*store, key);
    if (spelling.isEmpty())
        return defaultValue;
    return toText(store->value(spelling));
}

void save(const QString &key, const QString &value)
{
    const auto store = openStore();
    if (store->status() == QSettings::FormatError) {
        throw unreadableStore(key, store->fileName());
    }
    const QString spelling = storedSpelling(*store, key);
    const QString name = spelling.isEmpty() ? key : spelling;
    const QVariant previous = store->value(name);
    store->setValue(name, value);
    store->sync();
    const QSettings::Status status = store->status();
    if (status == QSettings::NoError)
        return;
    // QSettings keeps an unwritten change in its in-process file cache; put
    // the old value back there so later reads see what the disk holds.
    if (spelling.isEmpty())
        store->remove(name);
    else
        store->setValue(name, previous);
    if (status == QSettings::FormatError)
        throw unreadableStore(key, store->fileName());
    throw RuntimeError(QStringLiteral("The setting %1 could not be saved: %2 cannot be written "
                                      "(access denied or disk full).")
                               .arg(key, store->fileName()));
}

QString location()
{
    return openStore()->fileName();
}

} // namespace Settings
