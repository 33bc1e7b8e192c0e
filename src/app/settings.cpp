#include "app/settings.h"

#include "app/settings_p.h"

namespace Settings::Store {

QString storedSpelling(const QStringList &keys, const QString &key)
{
    if (keys.contains(key))
        return key;
    for (const QString &candidate : keys) {
        if (candidate.compare(key, Qt::CaseInsensitive) == 0)
            return candidate;
    }
    return {};
}

QString text(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void writeThroughQSettings(QSettings &store, const QString &key, const QString &value)
{
    if (store.status() == QSettings::FormatError)
        throw unreadable(key, store.fileName());
    const QString spelling = storedSpelling(store.allKeys(), key);
    const QString name = spelling.isEmpty() ? key : spelling;
    const QVariant previous = store.value(name);
    store.setValue(name, value);
    store.sync();
    const QSettings::Status status = store.status();
    if (status == QSettings::NoError)
        return;
    if (spelling.isEmpty())
        store.remove(name);
    else
        store.setValue(name, previous);
    if (status == QSettings::FormatError)
        throw unreadable(key, store.fileName());
    throw unwritable(key, store.fileName());
}

RuntimeError unreadable(const QString &key, const QString &file)
{
    return RuntimeError(QStringLiteral("The setting %1 could not be saved: %2 cannot be read "
                                       "as a settings file, so it was left unchanged.")
                                .arg(key, file));
}

RuntimeError unwritable(const QString &key, const QString &file)
{
    return RuntimeError(QStringLiteral("The setting %1 could not be saved: %2 cannot be written "
                                       "(access denied or disk full).")
                                .arg(key, file));
}

} // namespace Settings::Store

namespace Settings {

QString get(const QString &key, const QString &defaultValue)
{
    const auto store = Store::open();
    if (!store)
        return defaultValue;
    const QString spelling = Store::storedSpelling(store->allKeys(), key);
    if (spelling.isEmpty())
        return defaultValue;
    return Store::text(store->value(spelling));
}

void save(const QString &key, const QString &value)
{
    // UTF-16 with a surrogate missing its other half has no UTF-8 form:
    // written, it would come back as "?".
    if (!value.isValidUtf16())
        throw RuntimeError(QStringLiteral("The setting %1 could not be saved: the value holds "
                                          "characters that cannot be stored as text.")
                                   .arg(key));
    Store::write(key, value);
}

QString location()
{
    return Store::path();
}

} // namespace Settings
