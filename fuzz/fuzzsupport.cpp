#include "fuzzsupport.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

void startApplication()
{
    static int argc = 1;
    static char name[] = "tallow-fuzz";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv); // lives as long as the process
}

QString scratchFolder(const QString &name)
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString base = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    static QTemporaryDir *folder = new QTemporaryDir(base + QStringLiteral("/tallow-fuzz-XXXXXX"));
    static const struct Remover
    {
        ~Remover() { delete folder; }
    } remover;
    const QString path = folder->filePath(name);
    QDir().mkpath(path);
    return path;
}

QByteArray bytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

void fail(const char *property, const QString &detail)
{
    std::fprintf(stderr, "==fuzz== property broken: %s\n", property);
    if (!detail.isEmpty())
        std::fprintf(stderr, "==fuzz== %s\n", qPrintable(detail));
    std::abort();
}

void SilentDialogs::message(QWidget *, const QString &text, const QString &, BoxIcon)
{
    messages.append(text);
}

void SilentDialogs::chooseFont(QWidget *, FontChoice &)
{
    fail("no font dialog is opened while reading input");
}

void SilentDialogs::chooseColor(QWidget *, std::uint32_t &)
{
    fail("no colour dialog is opened while reading input");
}

QDateTime FixedClock::now() const
{
    return QDateTime(QDate(2026, 12, 8), QTime(21, 5, 7));
}

} // namespace Fuzz
