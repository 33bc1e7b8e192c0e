#pragma once

#include "app/scopedoverride.h"

#include <QString>

class QFileDevice;

// Writes one value into the store's INI file, which QSettings reads. See
// settings_inifile.cpp for why QSettings does not write it itself.
namespace IniFileWriter {

enum Result {
    Written,
    Unreadable, // not a settings file QSettings reads (binary, UTF-16, a format error)
    Unwritable, // access denied, disk full, lock not had in time, not a regular file
};

// Sets `key` (found without regard to case) in the [General] section of
// `path`. Every other line of the file keeps its bytes.
Result set(const QString &path, const QString &key, const QString &value);

} // namespace IniFileWriter

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
