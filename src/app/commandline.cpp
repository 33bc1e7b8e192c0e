#include "app/commandline.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSet>

#include <algorithm>

#include <cstdio>

namespace CommandLine {

namespace {

const QString ScreenOption = QStringLiteral("--screen");

// The options every Qt program takes (QApplication and the platform plugins
// read and remove them): those followed by a value, those given with "=",
// and those on their own. Qt also takes each of them with two dashes.
const QStringList QtOptionsWithValue = {QStringLiteral("-platform"),
                                        QStringLiteral("-platformpluginpath"),
                                        QStringLiteral("-platformtheme"),
                                        QStringLiteral("-plugin"),
                                        QStringLiteral("-qwindowgeometry"),
                                        QStringLiteral("-qwindowicon"),
                                        QStringLiteral("-qwindowtitle"),
                                        QStringLiteral("-session"),
                                        QStringLiteral("-style"),
                                        QStringLiteral("-stylesheet"),
                                        QStringLiteral("-display"),
                                        QStringLiteral("-geometry"),
                                        QStringLiteral("-title"),
                                        QStringLiteral("-icon"),
                                        QStringLiteral("-name"),
                                        QStringLiteral("-visual")};
const QStringList QtOptionsWithEquals = {QStringLiteral("-style="), QStringLiteral("-stylesheet="),
                                         QStringLiteral("-qmljsdebugger=")};
const QStringList QtOptionsAlone = {QStringLiteral("-reverse"),     QStringLiteral("-widgetcount"),
                                    QStringLiteral("-testability"), QStringLiteral("-sync"),
                                    QStringLiteral("-nograb"),      QStringLiteral("-dograb")};

// The one-dash spelling of a Qt option given with two.
QString oneDash(const QString &argument)
{
    return argument.startsWith(QLatin1String("--")) ? argument.mid(1) : argument;
}

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

Options parse(const QStringList &arguments)
{
    Options options;
    QSet<QString> seen;
    const auto fail = [&options](const QString &why) {
        options.action = Options::Action::Fail;
        options.error = why;
        return options;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const QString qtName = oneDash(argument);
        if (QtOptionsAlone.contains(qtName))
            continue;
        if (std::any_of(QtOptionsWithEquals.begin(), QtOptionsWithEquals.end(),
                        [&](const QString &prefix) { return qtName.startsWith(prefix); }))
            continue;
        if (QtOptionsWithValue.contains(qtName)) {
            if (++i == arguments.size())
                return fail(QStringLiteral("%1 wants a value").arg(argument));
            continue;
        }
        QString name = argument;
        QString value;
        if (argument.startsWith(ScreenOption + QLatin1Char('='))) {
            name = ScreenOption;
            value = argument.mid(ScreenOption.size() + 1);
        } else if (argument == ScreenOption) {
            if (++i == arguments.size())
                return fail(QStringLiteral("%1 wants the name of a screen").arg(argument));
            value = arguments[i];
        } else if (argument == QLatin1String("-h")) {
            name = QStringLiteral("--help");
        }
        if (seen.contains(name))
            return fail(QStringLiteral("%1 is given more than once").arg(argument));
        seen.insert(name);
        if (name == QLatin1String("--help")) {
            options.action = Options::Action::Help;
        } else if (name == QLatin1String("--version")) {
            if (options.action != Options::Action::Help)
                options.action = Options::Action::Version;
        } else if (name == QLatin1String("--kiosk")) {
            options.kiosk = true;
        } else if (name == ScreenOption) {
            if (value.isEmpty())
                return fail(QStringLiteral("%1 wants the name of a screen").arg(ScreenOption));
            options.screen = value;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unknown option %1").arg(argument));
        } else {
            return fail(QStringLiteral("unexpected argument %1").arg(argument));
        }
    }
    return options;
}

QScreen *screenNamed(const QString &name)
{
    QScreen *primary = QGuiApplication::primaryScreen();
    if (name.isEmpty())
        return primary;
    QStringList names;
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
        names << screen->name();
    }
    print(stderr,
          QStringLiteral("tallow-marquee: no screen is named %1; the screens are: %2. The "
                         "primary screen%3 is used.\n")
                  .arg(name, names.join(QStringLiteral(", ")),
                       primary ? QStringLiteral(" (%1)").arg(primary->name()) : QString()));
    return primary;
}

QString usage()
{
    return QStringLiteral(
            "Usage: tallow-marquee [--kiosk] [--screen NAME]\n"
            "\n"
            "Shows the quote of a stock symbol full screen in huge text, with a live clock.\n"
            "Run without options it opens the options window.\n"
            "\n"
            "  --kiosk    open the display at once with the stored symbol, and close every\n"
            "             message box by itself after 30 seconds (for a wall screen)\n"
            "  --screen NAME\n"
            "             open on the monitor of that name (as xrandr --listmonitors shows\n"
            "             them) instead of the primary one\n"
            "  --help     show this help and exit\n"
            "  --version  show the version and exit\n"
            "\n"
            "Qt's standard options (-platform, -display, -style, -qwindowgeometry ...)\n"
            "are taken as well.\n");
}

QString versionText()
{
    return QStringLiteral("tallow-marquee " TALLOW_VERSION "\n");
}

int handle(int argc, char **argv, Options &options)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    options = parse(arguments);
    switch (options.action) {
    case Options::Action::Run:
        return -1;
    case Options::Action::Help:
        print(stdout, usage());
        return 0;
    case Options::Action::Version:
        print(stdout, versionText());
        return 0;
    case Options::Action::Fail:
        print(stderr, QStringLiteral("tallow-marquee: %1\n").arg(options.error) + usage());
        return 2;
    }
    return 2;
}

} // namespace CommandLine
