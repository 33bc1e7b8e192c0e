// The store file's writer on Unix.
//
// QSettings writes its INI file through a buffered QSaveFile, and Qt 6.4 does
// not notice a write that fails there: on a full disk QSettings::sync()
// reports NoError and leaves a 0-byte file in place of the store
// (tst_settings: qsettingsOnAFullDisk shows it). This writer exists for that
// alone. The file is still parsed by QSettings only, and the new line is the
// one QSettings writes: the writer knows no more of the format than where
// lines and section headers start, and every edit is read back through
// QSettings before it is written. It must give the new value for its key and the same value for
// every other key; the edit keeps the bytes of every other line. The file then
// reaches the disk through an unbuffered QSaveFile with every write, the
// fsync and the commit checked.
//
// Once that test shows QSettings reporting the full disk, this file can go and
// the store be written as on Windows (Store::writeThroughQSettings).
#include "app/settings_inifile.h"

#include "app/settings_p.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QSysInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <csignal>
#include <optional>
#include <unistd.h>

namespace {

// Why a save fails, thrown inside the writer.
enum Failure {
    Unreadable, // not a settings file QSettings reads (binary, UTF-16, a format error)
    Unwritable, // access denied, disk full, lock not had in time, not a regular file
};

class DirectDisk final : public IniFileDisk
{
public:
    qint64 write(QFileDevice &file, const char *data, qint64 size) override
    {
        return file.write(data, size);
    }
};

// QSettings reads the file as UTF-8; anything else (binary bytes, UTF-16)
// would come back rewritten with replacement characters.
bool isText(const QByteArray &data)
{
    if (data.contains('\0'))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(data);
    return !decoder.hasError();
}

// Letters, digits, '_', '-', '.' and (in a value, between other characters)
// blanks are written as they are.
bool isPlain(const QString &text, bool blanksInside)
{
    static const QRegularExpression plainKey(
            QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_.-]+")));
    static const QRegularExpression plainValue(QRegularExpression::anchoredPattern(
            QStringLiteral("([A-Za-z0-9_.-]+( [A-Za-z0-9_.-]+)*)?")));
    return (blanksInside ? plainValue : plainKey).match(text).hasMatch();
}

// The line QSettings writes for `key` and `value`. Unless both are plain, it
// is taken from a store of that one key beside the store, so that the
// escaping of key and value is Qt's own.
QByteArray entryLine(const QString &folder, const QString &key, const QString &value)
{
    if (isPlain(key, false) && isPlain(value, true))
        return (key + QLatin1Char('=') + value).toLatin1();
    QTemporaryFile file(folder + QStringLiteral("/.entry-XXXXXX"));
    if (!file.open())
        throw Unwritable;
    {
        QSettings probe(file.fileName(), QSettings::IniFormat);
        probe.setValue(key, value);
        probe.sync();
    }
    // QSettings replaced the file by name; read what now stands there. On a
    // full disk it may have left a file with less or nothing in it.
    QFile written(file.fileName());
    if (!written.open(QIODevice::ReadOnly))
        throw Unwritable;
    const QByteArray data = written.readAll();
    const QByteArray header = "[General]\n";
    if (!data.startsWith(header) || !data.endsWith('\n') || data.count('\n') != 2)
        throw Unwritable;
    return data.sliced(header.size(), data.size() - header.size() - 1);
}

// One line as it lies in the file: its text is [start, end), its line break
// runs up to `next`.
struct Line
{
    qsizetype start;
    qsizetype end;
    qsizetype next;
};

QList<Line> linesOf(const QByteArray &data, qsizetype from)
{
    QList<Line> lines;
    for (qsizetype pos = from; pos < data.size();) {
        qsizetype end = pos;
        while (end < data.size() && data.at(end) != '\n' && data.at(end) != '\r')
            ++end;
        qsizetype next = end;
        if (next < data.size())
            next += data.at(next) == '\r' && next + 1 < data.size() && data.at(next + 1) == '\n'
                    ? 2
                    : 1;
        lines.append({pos, end, next});
        pos = next;
    }
    return lines;
}

// The files that would hold `entry` for `key`, the most likely to be right
// first. Each keeps the bytes of every line but the key's own. Which one is
// right, QSettings decides: a line may belong to a value quoted or continued
// over several lines, which only the parser knows.
QList<QByteArray> edits(const QByteArray &data, const QString &key, const QByteArray &entry)
{
    const qsizetype bodyStart = data.startsWith("\xef\xbb\xbf") ? 3 : 0;
    const QList<Line> lines = linesOf(data, bodyStart);
    const QByteArray escaped = entry.first(entry.indexOf('='));
    QList<qsizetype> matches; // lines of the key in [General]
    QList<qsizetype> entries; // lines of any key in [General]
    qsizetype header = -1; // the last [General] header line
    bool inGeneral = true; // lines before the first header belong to [General]
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView text = QByteArrayView(data)
                                            .sliced(lines[i].start, lines[i].end - lines[i].start)
                                            .trimmed();
        if (text.startsWith('[')) {
            const qsizetype close = text.indexOf(']');
            const QByteArrayView name = text.sliced(1, (close < 0 ? text.size() : close) - 1);
            inGeneral = name.trimmed().compare("general", Qt::CaseInsensitive) == 0;
            if (inGeneral)
                header = i;
            continue;
        }
        const qsizetype equals = text.indexOf('=');
        if (!inGeneral || text.startsWith(';') || equals < 0)
            continue;
        entries.append(i);
        const QByteArrayView name = text.first(equals).trimmed();
        if (name.compare(escaped, Qt::CaseInsensitive) == 0
            || QString::fromUtf8(name).compare(key, Qt::CaseInsensitive) == 0)
            matches.append(i);
    }

    const qsizetype firstBreak = data.indexOf('\n');
    const QByteArray lineBreak = firstBreak > 0 && data.at(firstBreak - 1) == '\r'
            ? QByteArrayLiteral("\r\n")
            : QByteArrayLiteral("\n");
    QList<QByteArray> result;
    if (!matches.isEmpty()) {
        // The key's last line (the one that is read) takes the value, with the
        // lines after it that a value quoted over several lines may have
        // taken; earlier lines of the key go.
        const Line &first = lines[matches.last()];
        for (qsizetype more = 0; more <= 3 && matches.last() + more < lines.size(); ++more) {
            QByteArray edited = data;
            edited.replace(first.start, lines[matches.last() + more].end - first.start, entry);
            for (qsizetype i = matches.size() - 2; i >= 0; --i) {
                const Line &line = lines[matches[i]];
                edited.remove(line.start, line.next - line.start);
            }
            result.append(edited);
        }
    } else if (header < 0 && entries.isEmpty()) {
        QByteArray section = "[General]" + lineBreak + entry + lineBreak;
        if (data.size() > bodyStart)
            section += lineBreak;
        result.append(QByteArray(data).insert(bodyStart, section));
    } else {
        // A new line after the section's last entry; or, when that one leaves
        // its value open and would take the new line in, after an earlier one,
        // after the header, or first in the file.
        QList<qsizetype> after;
        for (qsizetype i = entries.size() - 1; i >= 0 && after.size() < 8; --i)
            after.append(entries[i]);
        if (header >= 0)
            after.append(header);
        for (const qsizetype line : after)
            result.append(QByteArray(data).insert(lines[line].end, lineBreak + entry));
        result.append(QByteArray(data).insert(bodyStart, entry + lineBreak));
    }

    // The file ends in a line break, unless its last line ends in a backslash,
    // which would take the break into its value.
    QList<QByteArray> withEnds;
    for (const QByteArray &edited : std::as_const(result)) {
        if (edited.endsWith('\n') || edited.endsWith('\r')) {
            withEnds.append(edited);
        } else if (edited.endsWith('\\')) {
            withEnds.append(edited);
            withEnds.append(edited + lineBreak);
        } else {
            withEnds.append(edited + lineBreak);
            withEnds.append(edited);
        }
    }
    return withEnds;
}

using Values = QMap<QString, QVariant>;

// Every key and value QSettings reads from the file; nothing when it finds
// the file malformed.
std::optional<Values> valuesOf(const QString &path)
{
    const QSettings store(path, QSettings::IniFormat);
    if (store.status() != QSettings::NoError)
        return std::nullopt;
    Values values;
    const QStringList keys = store.allKeys();
    for (const QString &key : keys)
        values.insert(key, store.value(key));
    return values;
}

// The same for bytes not on disk yet, read from a file of their own.
std::optional<Values> valuesOf(const QByteArray &data, const QString &folder)
{
    QTemporaryFile file(folder + QStringLiteral("/.check-XXXXXX"));
    if (!file.open() || file.write(data) != data.size() || !file.flush())
        throw Unwritable;
    return valuesOf(file.fileName());
}

Values without(const Values &values, const QString &key)
{
    Values result;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.key().compare(key, Qt::CaseInsensitive) != 0)
            result.insert(it.key(), it.value());
    }
    return result;
}

bool gives(const Values &values, const QString &key, const QString &value)
{
    const QString spelling = Settings::Store::storedSpelling(values.keys(), key);
    return !spelling.isEmpty() && Settings::Store::text(values.value(spelling)) == value;
}

// The first edit QSettings reads as `before` with the key set to the value.
std::optional<QByteArray> checkedEdit(const QByteArray &data, const Values &before,
                                      const QString &folder, const QString &key,
                                      const QString &value)
{
    const QString spelling = Settings::Store::storedSpelling(before.keys(), key);
    const QByteArray entry = entryLine(folder, spelling.isEmpty() ? key : spelling, value);
    const Values others = without(before, key);
    const QList<QByteArray> candidates = edits(data, key, entry);
    for (const QByteArray &candidate : candidates) {
        const std::optional<Values> after = valuesOf(candidate, folder);
        if (after && gives(*after, key, value) && without(*after, key) == others)
            return candidate;
    }
    return std::nullopt;
}

QByteArray readRegularFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw Unwritable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Unwritable;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Unwritable;
    if (!isText(data))
        throw Unreadable;
    return data;
}

// True when the file already holds the value under the key's one spelling,
// and a write would be allowed. Start-up writes back every value it has just
// read; such a save then needs neither the lock nor a rewrite. The file is
// only ever replaced whole, so an unlocked read sees one version.
bool alreadyHolds(const QString &path, const QString &key, const QString &value)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isWritable() || !QFileInfo(info.path()).isWritable())
        return false;
    try {
        readRegularFile(path);
    } catch (Failure) {
        return false;
    }
    const std::optional<Values> values = valuesOf(path);
    return values && gives(*values, key, value)
            && without(*values, key).size() == values->size() - 1;
}

bool processExists(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// A lock that no live process holds: an empty or unreadable file (left by a
// writer killed between creating and filling it), or one naming a process of
// this machine that has ended.
bool isAbandoned(const QLockFile &lock)
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application))
        return true;
    return (host.isEmpty() || host == QSysInfo::machineHostName()) && !processExists(pid);
}

// The lock QSettings takes around its writes, so that writers of this program
// and others never interleave. A live holder is waited for, five seconds at
// most: a lock that cannot be taken (a folder of that name, a lock of another
// machine's process) makes the store unwritable rather than the save endless.
bool acquire(QLockFile &lock)
{
    const QDeadlineTimer deadline(5000);
    if (lock.tryLock(0))
        return true;
    if (lock.error() == QLockFile::LockFailedError && isAbandoned(lock)) {
        // A live writer fills its new lock file at once; one still empty a
        // moment later was abandoned.
        if (lock.tryLock(100))
            return true;
        if (isAbandoned(lock))
            lock.removeStaleLockFile();
    }
    // At most the 5 s the deadline started with, so it fits an int.
    return lock.tryLock(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)));
}

void writeAll(QSaveFile &file, const QByteArray &data)
{
    IniFileDisk &disk = IniFileDisk::instance();
    for (qint64 written = 0; written < data.size();) {
        const qint64 n = disk.write(file, data.constData() + written, data.size() - written);
        if (n <= 0)
            throw Unwritable;
        written += n;
    }
}

void writeFile(const QString &path, const QString &key, const QString &value)
{
    // Only a regular file is read or replaced: a FIFO would block the read,
    // and a folder or a device is no store.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw Unwritable;
    if (alreadyHolds(path, key, value))
        return;
    if (!QDir().mkpath(info.path()))
        throw Unwritable;
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!acquire(lock))
        throw Unwritable;

    const QFileInfo current(path);
    QByteArray data;
    if (current.exists()) {
        if (!current.isWritable())
            throw Unwritable;
        data = readRegularFile(path);
    }
    const std::optional<Values> before = valuesOf(path);
    if (!before)
        throw Unreadable;
    const std::optional<QByteArray> updated = checkedEdit(data, *before, info.path(), key, value);
    if (!updated)
        throw Unreadable;

    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    // Unbuffered, so that a full disk fails the write() that met it.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Unwritable;
    try {
        writeAll(out, *updated);
        if (::fsync(out.handle()) != 0)
            throw Unwritable;
        // QSettings keeps a parsed copy of the file per process and trusts it
        // while size and modification time (in ms) are unchanged: make the
        // new time later than that of the file it replaces.
        const QDateTime replaced = current.exists() ? current.lastModified() : QDateTime();
        if (replaced.isValid() && out.fileTime(QFileDevice::FileModificationTime) <= replaced)
            out.setFileTime(replaced.addMSecs(1), QFileDevice::FileModificationTime);
    } catch (Failure) {
        out.cancelWriting();
        throw;
    }
    if (!out.commit())
        throw Unwritable;
}

} // namespace

void Settings::Store::writeIniFile(const QString &path, const QString &key, const QString &value)
{
    try {
        writeFile(path, key, value);
    } catch (Failure failure) {
        throw failure == Unreadable ? unreadable(key, path) : unwritable(key, path);
    }
}

IniFileDisk &IniFileDisk::instance()
{
    static DirectDisk disk;
    return sInstalled ? *sInstalled : disk;
}
