#include "app/settings.h"

#include "app/runtimeerror.h"

#include <QSettings>
#include <QStringList>

#include <memory>

#ifndef Q_OS_WIN
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

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

RuntimeError unreadableFile(const QString &key, const QString &file)
{
    return RuntimeError(QStringLiteral("The setting %1 could not be saved: %2 cannot be read "
                                       "as a settings file, so it was left unchanged.")
                                .arg(key, file));
}

RuntimeError unwritableFile(const QString &key, const QString &file)
{
    return RuntimeError(QStringLiteral("The setting %1 could not be saved: %2 cannot be written "
                                       "(access denied or disk full).")
                                .arg(key, file));
}

#ifdef Q_OS_WIN

void saveThroughQSettings(const QString &key, const QString &value)
{
    const auto store = openStore();
    if (store->status() == QSettings::FormatError)
        throw unreadableFile(key, store->fileName());
    const QString spelling = storedSpelling(*store, key);
    const QString name = spelling.isEmpty() ? key : spelling;
    const QVariant previous = store->value(name);
    store->setValue(name, value);
    store->sync();
    const QSettings::Status status = store->status();
    if (status == QSettings::NoError)
        return;
    // QSettings keeps an unwritten change in its in-process cache; put the old
    // value back there so later reads see what the store holds.
    if (spelling.isEmpty())
        store->remove(name);
    else
        store->setValue(name, previous);
    if (status == QSettings::FormatError)
        throw unreadableFile(key, store->fileName());
    throw unwritableFile(key, store->fileName());
}

#else

// The INI file is written here rather than by QSettings: QSettings does not
// notice every failed write and can rename a short file over a good one. The
// file keeps the layout QSettings reads (and the reads still go through it);
// a save changes only the line of its key and leaves every other byte alone.

qint64 gWriteLimit = -1;

class Refused
{
public:
    enum Reason { Unreadable, Unwritable };
    explicit Refused(Reason why) : reason(why) { }
    Reason reason;
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

enum CharTraits { Space = 1, Special = 2 };

int traits(char c)
{
    switch (c) {
    case '\t':
    case ' ':
        return Space;
    case '\n':
    case '\r':
        return Space | Special;
    case '"':
    case ';':
    case '=':
    case '\\':
        return Special;
    default:
        return 0;
    }
}

// Finds the next logical line from `pos` as QSettings splits the file: a
// backslash escapes the next character (a line end too), a line end inside
// quotes does not end the line, and a ';' outside quotes starts a comment.
// `unterminated` tells whether the line would run on into anything added after
// it: its quote is never closed, or the file ends in the backslash of an escape.
bool readIniLine(const QByteArray &data, qsizetype &pos, qsizetype &lineStart,
                 qsizetype &lineLength, qsizetype &equalsPos, bool *unterminated = nullptr)
{
    const qsizetype size = data.size();
    bool inQuotes = false;
    bool danglingEscape = false;
    equalsPos = -1;
    lineStart = pos;
    while (lineStart < size && traits(data.at(lineStart)) == Space)
        ++lineStart;
    qsizetype i = lineStart;
    while (i < size) {
        const char ch = data.at(i++);
        if (traits(ch) == 0 || traits(ch) == Space)
            continue;
        if (ch == '=') {
            if (!inQuotes && equalsPos == -1)
                equalsPos = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == lineStart + 1) {
                ++lineStart;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            danglingEscape = i == size;
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size) {
                    const char next = data.at(i);
                    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n'))
                        ++i;
                }
                danglingEscape = i == size && (escaped == '\n' || escaped == '\r');
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (i == lineStart + 1) { // ';' at the start: a comment line
            while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                ++i;
            while (i < size && traits(data.at(i)) == Space)
                ++i;
            lineStart = i;
        } else if (!inQuotes) {
            --i;
            break;
        }
    }
    lineLength = i - lineStart;
    pos = i;
    if (unterminated)
        *unterminated = inQuotes || danglingEscape;
    return lineLength > 0;
}

// Key names in the file: '/' as '\', anything but letters, digits, '_', '-'
// and '.' as %XX or %UXXXX.
QString unescapedKey(const QByteArray &raw)
{
    const QString text = QString::fromUtf8(raw);
    QString key;
    for (qsizetype i = 0; i < text.size();) {
        const QChar ch = text.at(i);
        if (ch == QLatin1Char('\\')) {
            key += QLatin1Char('/');
            ++i;
            continue;
        }
        if (ch != QLatin1Char('%') || i == text.size() - 1) {
            key += ch;
            ++i;
            continue;
        }
        qsizetype first = i + 1;
        int digits = 2;
        if (text.at(first) == QLatin1Char('U')) {
            ++first;
            digits = 4;
        }
        bool ok = false;
        const ushort code = first + digits <= text.size()
                ? QStringView(text).mid(first, digits).toUShort(&ok, 16)
                : 0;
        if (!ok) {
            key += QLatin1Char('%');
            ++i;
            continue;
        }
        key += QChar(code);
        i = first + digits;
    }
    return key;
}

QByteArray escapedKey(const QString &key)
{
    QByteArray result;
    for (const QChar qc : key) {
        const char16_t ch = qc.unicode();
        if (ch == u'/') {
            result += '\\';
        } else if ((ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z')
                   || (ch >= u'0' && ch <= u'9') || ch == u'_' || ch == u'-' || ch == u'.') {
            result += char(ch);
        } else if (ch <= 0xFF) {
            result += '%' + QByteArray::number(ch, 16).toUpper().rightJustified(2, '0');
        } else {
            result += "%U" + QByteArray::number(ch, 16).toUpper().rightJustified(4, '0');
        }
    }
    return result;
}

bool isHexDigit(char16_t ch)
{
    return (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
}

// A text value as QSettings writes one: a leading '@' doubled, a NUL inside
// wrapped in @String(), C-style escapes, quotes around values holding ';', ','
// or '=' or starting or ending with a blank (unquoted, they would read as a
// list or lose the blank).
QByteArray escapedValue(const QString &value)
{
    QString text = value;
    if (text.contains(QChar::Null))
        text = QStringLiteral("@String(") + text + QLatin1Char(')');
    else if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    QByteArray result;
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text.at(i).unicode();
        if (ch == u';' || ch == u',' || ch == u'=')
            needsQuotes = true;
        if (escapeNextIfDigit && isHexDigit(ch)) {
            result += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case u'\0':
            result += "\\0";
            escapeNextIfDigit = true;
            break;
        case u'\a':
            result += "\\a";
            break;
        case u'\b':
            result += "\\b";
            break;
        case u'\f':
            result += "\\f";
            break;
        case u'\n':
            result += "\\n";
            break;
        case u'\r':
            result += "\\r";
            break;
        case u'\t':
            result += "\\t";
            break;
        case u'\v':
            result += "\\v";
            break;
        case u'"':
        case u'\\':
            result += '\\';
            result += char(ch);
            break;
        default:
            if (ch <= 0x1F) {
                result += "\\x" + QByteArray::number(ch, 16);
                escapeNextIfDigit = true;
            } else if (ch < 0x80) {
                result += char(ch);
            } else {
                // A surrogate pair is one character.
                const qsizetype length = QChar::isHighSurrogate(ch) && i + 1 < text.size()
                                && text.at(i + 1).isLowSurrogate()
                        ? 2
                        : 1;
                result += QStringView(text).mid(i, length).toUtf8();
                i += length - 1;
            }
        }
    }
    if (needsQuotes || result.startsWith(' ') || result.endsWith(' '))
        result = '"' + result + '"';
    return result;
}

// The file's bytes with `key` set to `value` in the [General] section: the
// line of the key (found without regard to case) is replaced, or a line is
// added at the end of the section, which is created when missing.
QByteArray withValue(const QByteArray &data, const QString &key, const QString &value)
{
    struct Line
    {
        qsizetype start;
        qsizetype end;
        QString key;
    };
    QList<Line> matches;
    bool exactSpelling = false;
    qsizetype generalEnd = -1; // end of the last line of the section, -1: no section
    // An unterminated last line would take an entry added after it as part of
    // its value.
    qsizetype generalOpenLine = -1;
    bool inGeneral = true;
    qsizetype pos = data.startsWith("\xef\xbb\xbf") ? 3 : 0;
    const qsizetype bodyStart = pos;
    qsizetype lineStart = 0;
    qsizetype lineLength = 0;
    qsizetype equalsPos = -1;
    bool unterminated = false;
    qsizetype openEnd = -1; // start of the file's last line when it is unterminated
    while (readIniLine(data, pos, lineStart, lineLength, equalsPos, &unterminated)) {
        const qsizetype lineEnd = lineStart + lineLength;
        openEnd = unterminated ? lineStart : -1;
        if (data.at(lineStart) == '[') {
            const qsizetype close = data.indexOf(']', lineStart);
            if (close < 0 || close >= lineEnd)
                throw Refused(Refused::Unreadable);
            const QByteArray section = data.mid(lineStart + 1, close - lineStart - 1).trimmed();
            inGeneral = section.compare("general", Qt::CaseInsensitive) == 0;
            // An unterminated header hides the rest of the file: the entry
            // then goes into a [General] section of its own.
            if (inGeneral && !unterminated)
                generalEnd = lineEnd;
            continue;
        }
        if (equalsPos < 0)
            throw Refused(Refused::Unreadable);
        if (!inGeneral)
            continue;
        generalEnd = lineEnd;
        generalOpenLine = unterminated ? lineStart : -1;
        const QString lineKey = unescapedKey(data.mid(lineStart, equalsPos - lineStart).trimmed());
        if (lineKey.compare(key, Qt::CaseInsensitive) == 0) {
            matches.append({lineStart, lineEnd, lineKey});
            exactSpelling = exactSpelling || lineKey == key;
        }
    }

    const qsizetype firstBreak = data.indexOf('\n');
    const QByteArray lineBreak = firstBreak > 0 && data.at(firstBreak - 1) == '\r'
            ? QByteArrayLiteral("\r\n")
            : QByteArrayLiteral("\n");
    // An existing spelling of the key is kept, as QSettings would address it.
    const QString spelling = exactSpelling || matches.isEmpty() ? key : matches.last().key;
    const QByteArray entry = escapedKey(spelling) + '=' + escapedValue(value);
    QByteArray result = data;
    if (!matches.isEmpty()) {
        // One line for the key: the last one (the one that is read) takes the
        // value, earlier duplicates go.
        result.replace(matches.last().start, matches.last().end - matches.last().start, entry);
        for (qsizetype i = matches.size() - 2; i >= 0; --i) {
            qsizetype end = matches[i].end;
            if (result.mid(end, 2) == "\r\n")
                end += 2;
            else if (end < result.size() && (result.at(end) == '\n' || result.at(end) == '\r'))
                end += 1;
            result.remove(matches[i].start, end - matches[i].start);
        }
    } else if (generalOpenLine >= 0) {
        result.insert(generalOpenLine, entry + lineBreak);
    } else if (generalEnd >= 0) {
        result.insert(generalEnd, lineBreak + entry);
    } else {
        QByteArray section = "[General]" + lineBreak + entry + lineBreak;
        if (result.size() > bodyStart)
            section += lineBreak;
        result.insert(bodyStart, section);
    }
    // A line break after an unterminated line would join its value.
    const bool endsInOpenQuote
            = openEnd >= 0 && (matches.isEmpty() || matches.last().start != openEnd);
    if (!result.endsWith('\n') && !endsInOpenQuote)
        result += lineBreak;
    return result;
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
// and others never interleave. A live holder is waited for.
bool acquire(QLockFile &lock)
{
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
    return lock.lock();
}

void writeAll(QSaveFile &file, const QByteArray &data)
{
    qint64 written = 0;
    while (written < data.size()) {
        qint64 chunk = data.size() - written;
        if (gWriteLimit >= 0)
            chunk = qMin(chunk, gWriteLimit - written);
        if (chunk <= 0)
            throw Refused(Refused::Unwritable); // the simulated full disk
        const qint64 n = file.write(data.constData() + written, chunk);
        if (n <= 0)
            throw Refused(Refused::Unwritable);
        written += n;
    }
}

// True when the file already holds `value` for `key` exactly as a save would
// write it, and a write would be allowed. Start-up writes back every value it
// has just read; such a save then needs neither the lock nor a synced rewrite.
// The file is only ever replaced whole, so an unlocked read sees one version.
bool alreadyHolds(const QString &path, const QString &key, const QString &value)
{
    const QFileInfo info(path);
    if (!info.isWritable() || !QFileInfo(info.path()).isWritable())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    return file.error() == QFileDevice::NoError && isText(data)
            && withValue(data, key, value) == data;
}

void writeStoreFile(const QString &path, const QString &key, const QString &value)
{
    if (alreadyHolds(path, key, value))
        return;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.path()))
        throw Refused(Refused::Unwritable);
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!acquire(lock))
        throw Refused(Refused::Unwritable);

    QByteArray data;
    const QFileInfo current(path);
    if (current.exists()) {
        if (!current.isWritable())
            throw Refused(Refused::Unwritable);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Refused(Refused::Unwritable);
        data = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw Refused(Refused::Unwritable);
        if (!isText(data))
            throw Refused(Refused::Unreadable);
    }
    const QByteArray updated = withValue(data, key, value);

    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    // Unbuffered, so that a full disk fails the write() that met it.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Refused(Refused::Unwritable);
    try {
        writeAll(out, updated);
        if (::fsync(out.handle()) != 0)
            throw Refused(Refused::Unwritable);
        // QSettings, which reads the file, keeps a parsed copy per process and
        // trusts it while size and modification time (in ms) are unchanged:
        // make the new time later than that of the file it replaces.
        const QDateTime before = current.exists() ? current.lastModified() : QDateTime();
        if (before.isValid() && out.fileTime(QFileDevice::FileModificationTime) <= before)
            out.setFileTime(before.addMSecs(1), QFileDevice::FileModificationTime);
    } catch (const Refused &) {
        out.cancelWriting();
        throw;
    }
    if (!out.commit())
        throw Refused(Refused::Unwritable);
}

#endif

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
#ifdef Q_OS_WIN
    saveThroughQSettings(key, value);
#else
    const auto store = openStore();
    const QString path = store->fileName();
    // A file QSettings cannot parse is never touched.
    if (store->status() == QSettings::FormatError)
        throw unreadableFile(key, path);
    try {
        writeStoreFile(path, key, value);
    } catch (const Refused &refused) {
        if (refused.reason == Refused::Unreadable)
            throw unreadableFile(key, path);
        throw unwritableFile(key, path);
    }
#endif
}

QString location()
{
    return openStore()->fileName();
}

void simulateFullDiskAfter(qint64 bytes)
{
#ifndef Q_OS_WIN
    gWriteLimit = bytes;
#else
    Q_UNUSED(bytes);
#endif
}

} // namespace Settings
