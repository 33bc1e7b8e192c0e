#pragma once

// Between the store's shared code (settings.cpp) and the files of each
// platform (settings_unix.cpp, settings_win.cpp).

#include "app/runtimeerror.h"

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

namespace Settings::Store {

// The file (or registry branch) behind the store.
QString path();
// The store as QSettings reads it; nullptr when it cannot be read at all (a
// store path that is not a regular file).
std::unique_ptr<QSettings> open();
// Sets one value; throws RuntimeError made by the functions below on failure.
void write(const QString &key, const QString &value);

// QSettings compares keys case-sensitively on Unix; the store must not, so an
// existing spelling of the key is looked for first. Empty when there is none.
QString storedSpelling(const QStringList &keys, const QString &key);
// The value as the program sees it: a hand-edited "A,B" reads as a list.
QString text(const QVariant &value);

// Sets the value through QSettings itself, putting the old one back in its
// in-process cache when the write fails.
void writeThroughQSettings(QSettings &store, const QString &key, const QString &value);

RuntimeError unreadable(const QString &key, const QString &file);
RuntimeError unwritable(const QString &key, const QString &file);

} // namespace Settings::Store
