#include "app/commandline.h"

#include <QSet>

#include <cstdio>

namespace CommandLine {

namespace {

const QString BoxCloseOption = QStringLiteral("--test-box-close-ms=");

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
    for (const QString &argument : arguments) {
        QString name = argument;
        if (argument.startsWith(BoxCloseOption))
            name = BoxCloseOption;
        else if (argument == QLatin1String("-h"))
            name = QStringLiteral("--help");
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
        } else if (name == BoxCloseOption) {
            bool ok = false;
            const int value = argument.mid(BoxCloseOption.size()).toInt(&ok);
            if (!ok || value < 1)
                return fail(QStringLiteral("%1 wants a positive number").arg(argument));
            options.boxCloseMilliseconds = value;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unknown option %1").arg(argument));
        } else {
            return fail(QStringLiteral("unexpected argument %1").arg(argument));
        }
    }
    return options;
}

QString usage()
{
    return QStringLiteral(
            "Usage: tallow-marquee [--kiosk]\n"
            "\n"
            "Shows the quote of a stock symbol full screen in huge text, with a live clock.\n"
            "Run without options it opens the options window.\n"
            "\n"
            "  --kiosk    for a wall screen: open the display at once with the stored\n"
            "             symbol; the display reports failures on its bottom line and on\n"
            "             standard error instead of in boxes, retries a failed fetch\n"
            "             sooner and shrinks lines that do not fit\n"
            "  --help     show this help and exit\n"
            "  --version  show the version and exit\n");
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
