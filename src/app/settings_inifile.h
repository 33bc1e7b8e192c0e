#pragma once

#include "app/scopedoverride.h"

#include <QString>

class QFileDevice;

namespace Settings::Store {

// Sets `key` (found without regard to case) in the [General] section of the
// INI file at `path`, which QSettings reads; every other line keeps its bytes.
// Throws RuntimeError when the file is not a settings file QSettings reads or
// cannot be written. See settings_inifile.cpp for why QSettings does not
// write it itself.
void writeIniFile(const QString &path, const QString &key, const QString &value);

} // namespace Settings::Store

// The writes of the store file go through here, so that tests can stand in a
// disk that fills up. Production writes straight through.
class IniFileDisk
{
public:
    virtual ~IniFileDisk() = default;
    // Writes up to `size` bytes at the file's position: the count written, or -1.
    virtual qint64 write(QFileDevice &file, const char *data, qint64 size) = 0;

    static IniFileDisk &instance();

private:
    friend class ScopedOverride<IniFileDisk>;
    static inline IniFileDisk *sInstalled = nullptr;
};
