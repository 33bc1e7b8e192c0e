// The settings store reading a file of arbitrary bytes, then saving one value.
// Each run gets a fresh store folder, so no run sees another's file.
#include "fuzzsupport.h"

#include "app/runtimeerror.h"
#include "app/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <array>

namespace {

QDir gRoot;
quint64 gRun = 0;

const std::array<QString, 12> Keys = {
        Settings::Key::Text1,         Settings::Key::Combo1,    Settings::Key::Check1,
        Settings::Key::Check4,        Settings::Key::FontName,  Settings::Key::FontBold,
        Settings::Key::FontItalic,    Settings::Key::FontSize,  Settings::Key::FontStrikeThru,
        Settings::Key::FontUnderLine, Settings::Key::FontColor, Settings::Key::BackgroundColor,
};

// Values a window writes, including the ones that need quoting in an INI file.
const std::array<QString, 8> Values = {
        QStringLiteral("MSFT"),      QStringLiteral(""),
        QStringLiteral("A,B"),       QStringLiteral("x=y;z"),
        QStringLiteral("\"q\" \\"),  QStringLiteral("[General]"),
        QStringLiteral("-16777201"), QString::fromUtf8("\xc3\xa4\xe2\x82\xac\xf0\x9f\x93\x88"),
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    gRoot = QDir(Fuzz::scratchFolder(QStringLiteral("settings")));
    // The store folder lives under XDG_CONFIG_HOME; QSettings reads it once per
    // process, so each run moves the store with QSettings::setPath instead.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(gRoot.path()));
    Fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray content = Fuzz::bytes(data, size);
    const QString folder = gRoot.filePath(QString::number(++gRun));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    const QString file = Settings::location();
    FUZZ_CHECK(file.startsWith(folder + QLatin1Char('/')), file);
    QDir().mkpath(QFileInfo(file).path());
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            Fuzz::fail("the store file can be written", file);
    }

    const quint32 pick = qHash(content);
    const QString &key = Keys[pick % Keys.size()];
    const QString &value = Values[(pick / Keys.size()) % Values.size()];
    const QString absent = QStringLiteral("\x01<absent>");

    std::array<QString, Keys.size()> before;
    for (std::size_t i = 0; i < Keys.size(); ++i)
        before[i] = Settings::get(Keys[i], absent);

    bool saved = true;
    QString failure;
    try {
        Settings::save(key, value);
    } catch (const RuntimeError &error) {
        saved = false;
        failure = error.description();
    }

    if (saved) {
        // The value reads back, and no other value changed on the way.
        FUZZ_CHECK(Settings::get(key, absent) == value,
                   key + QStringLiteral(": wrote ") + value + QStringLiteral(", read ")
                           + Settings::get(key, absent) + QStringLiteral("\nfile:\n")
                           + QString::fromUtf8(readAll(file)));
        for (std::size_t i = 0; i < Keys.size(); ++i) {
            if (Keys[i].compare(key, Qt::CaseInsensitive) != 0)
                FUZZ_CHECK(Settings::get(Keys[i], absent) == before[i],
                           Keys[i] + QStringLiteral(": was ") + before[i] + QStringLiteral(", now ")
                                   + Settings::get(Keys[i], absent)
                                   + QStringLiteral(" after saving ") + key
                                   + QStringLiteral("\nfile:\n")
                                   + QString::fromUtf8(readAll(file)));
        }
    } else {
        // A save that reports failure leaves the file as it was.
        FUZZ_CHECK(readAll(file) == content, failure);
    }

    QDir(folder).removeRecursively();
    return 0;
}
