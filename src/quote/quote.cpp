#include "quote/quote.h"

#include "app/appshell.h"
#include "app/conversions.h"
#include "app/errortrap.h"
#include "app/seams.h"
#include "quote/networkfetcher.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QUrl>
#include <QXmlStreamReader>

#include <optional>

namespace Quote {

namespace {

struct ServiceConfig
{
    QString host = QStringLiteral(QUOTE_SERVICE_HOST);
    QString token = QStringLiteral(QUOTE_SERVICE_TOKEN);
};

// A host name, IPv4 address or bracketed IPv6 address, with an optional port
// of up to five digits: nothing that could add a user, a path or a query to
// the URL.
const QRegularExpression HostPattern(QRegularExpression::anchoredPattern(
        QStringLiteral("(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+)(:[0-9]{1,5})?")));

// Six lowercase letters or digits.
const QRegularExpression
        TokenPattern(QRegularExpression::anchoredPattern(QStringLiteral("[a-z0-9]{6}")));

// The user's own copy: under $XDG_CONFIG_HOME when it names a folder, else
// under ~/.config, as the desktop's base-directory rules say.
QString userConfigFile()
{
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty() || QDir::isRelativePath(home))
        home = QDir::homePath() + QStringLiteral("/.config");
    return home + QStringLiteral("/tallow-marquee/quote-service.ini");
}

// Says on standard error what was wrong with a configuration file. Each text
// is said once per run: the file is read at every request, and a wall screen
// would otherwise repeat it every ten minutes.
void reportConfigProblem(const QString &text)
{
    static QSet<QString> reported;
    if (reported.contains(text))
        return;
    reported.insert(text);
    qWarning().noquote() << QStringLiteral("tallow-marquee: ") + text;
}

// Read at every request, so an edited file takes effect at the next fetch.
// The first file present wins: beside the program, then the user's config
// folder, then the system's. A key that is absent keeps the built-in value; a
// key that is not valid keeps it too and is reported, and so is a file that
// cannot be read. Names of section and keys compare without regard to case.
ServiceConfig readServiceConfig()
{
    ServiceConfig config;
    QString path;
    for (const QString &candidate : {AppShell::besideProgram(ConfigFile), userConfigFile(),
                                     SystemConfigFile::instance().path()}) {
        if (QFileInfo(candidate).isFile()) {
            path = candidate;
            break;
        }
    }
    if (path.isEmpty())
        return config;
    QFile file(path);
    const qint64 sizeLimit = qint64{64} * 1024;
    if (file.size() > sizeLimit) {
        reportConfigProblem(QStringLiteral("%1 is larger than %2 bytes; using the built-in "
                                           "service address")
                                    .arg(path)
                                    .arg(sizeLimit));
        return config;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        reportConfigProblem(QStringLiteral("%1 cannot be read (%2); using the built-in service "
                                           "address")
                                    .arg(path, file.errorString()));
        return config;
    }
    // Whether the whole value matches the key's pattern; a value that does
    // not is reported.
    const auto valid = [&path](const QString &key, const QString &value,
                               const QRegularExpression &pattern, const char *wanted) {
        if (pattern.match(value).hasMatch())
            return true;
        reportConfigProblem(QStringLiteral("%1: ignoring %2=\"%3\": %4; using the built-in value")
                                    .arg(path, key, value, QLatin1String(wanted)));
        return false;
    };
    bool inSection = false;
    const QStringList lines = QString::fromUtf8(file.read(sizeLimit)).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2)
                                .trimmed()
                                .compare(u"QuoteService", Qt::CaseInsensitive)
                    == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inSection || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key.compare(u"Host", Qt::CaseInsensitive) == 0) {
            if (valid(key, value, HostPattern, "not a host name or address with an optional port"))
                config.host = value;
        } else if (key.compare(u"LicenseKey", Qt::CaseInsensitive) == 0) {
            if (valid(key, value, TokenPattern, "not six lowercase letters or digits"))
                config.token = value;
        }
    }
    return config;
}

QString encoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

struct ParseError
{
    QString reason;
    int line = 0;
    int column = 0;
};

// Replies the DOM parser is not given. Qt bounds the expansion of one entity
// but not the total: a reply of a few hundred kilobytes that references a long
// entity many times expands to hundreds of megabytes, so a reply carrying a
// document type declaration is refused. And the DOM parser's time grows with
// the square of the nesting depth, and tearing the tree down recurses once per
// level, so a reply nested deeper than MaxDepth is refused too (a quote is two
// levels deep). The scan reads the reply as the DOM parser does, without
// building anything, and leaves every other fault to the DOM parser's report.
const int MaxDepth = 256;

// Qt's XML readers check each attribute of an element against the others, so
// their time grows with the square of the attributes on one element: 50,000
// of them hold the reader for half a minute. A quote has none, so an element
// with more than MaxAttributes is refused before any reader sees the reply.
// The scan counts the "=" of each tag outside its quoted values and skips
// comments, CDATA sections and processing instructions, where none count.
const int MaxAttributes = 64;

bool hasTooManyAttributes(const QString &reply, ParseError &error)
{
    const auto skipPast = [&reply](qsizetype from, QStringView end) {
        const qsizetype found = reply.indexOf(end, from);
        return found < 0 ? reply.size() : found + end.size();
    };
    qsizetype i = 0;
    while ((i = reply.indexOf(QLatin1Char('<'), i)) >= 0) {
        const QStringView rest = QStringView(reply).mid(i);
        if (rest.startsWith(u"<!--")) {
            i = skipPast(i + 4, u"-->");
            continue;
        }
        if (rest.startsWith(u"<![CDATA[")) {
            i = skipPast(i + 9, u"]]>");
            continue;
        }
        if (rest.startsWith(u"<?")) {
            i = skipPast(i + 2, u"?>");
            continue;
        }
        const qsizetype start = i;
        int attributes = 0;
        QChar quote;
        for (++i; i < reply.size(); ++i) {
            const QChar c = reply.at(i);
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                quote = c;
            } else if (c == QLatin1Char('=')) {
                ++attributes;
            } else if (c == QLatin1Char('>') || c == QLatin1Char('<')) {
                break;
            }
        }
        if (attributes > MaxAttributes) {
            const QStringView before = QStringView(reply).left(start);
            error.reason = QStringLiteral("Elements with more than %1 attributes are not accepted.")
                                   .arg(MaxAttributes);
            error.line = int(before.count(QLatin1Char('\n'))) + 1;
            error.column = int(start - (before.lastIndexOf(QLatin1Char('\n')) + 1)) + 1;
            return true;
        }
    }
    return false;
}

bool isRefused(const QString &reply, ParseError &error)
{
    if (hasTooManyAttributes(reply, error))
        return true;
    QXmlStreamReader reader(reply);
    reader.setNamespaceProcessing(false);
    // Where a declaration may start: after the comments and processing
    // instructions before it, which could mention it themselves.
    qint64 searchFrom = 0;
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid)
            return false;
        if (token == QXmlStreamReader::EndElement)
            --depth;
        if (token == QXmlStreamReader::StartElement && ++depth > MaxDepth) {
            error.reason = QStringLiteral("Elements nested deeper than %1 levels are not accepted.")
                                   .arg(MaxDepth);
            error.line = int(reader.lineNumber());
            error.column = int(reader.columnNumber());
            return true;
        }
        if (depth > 0)
            continue;
        if (token == QXmlStreamReader::Comment || token == QXmlStreamReader::ProcessingInstruction)
            searchFrom = reader.characterOffset();
        if (token != QXmlStreamReader::DTD)
            continue;
        error.reason = QStringLiteral("Document type declarations are not accepted.");
        const qsizetype start = reply.indexOf(u"<!DOCTYPE", searchFrom);
        if (start < 0) {
            error.line = int(reader.lineNumber());
            error.column = int(reader.columnNumber());
            return true;
        }
        const QStringView before = QStringView(reply).left(start);
        error.line = int(before.count(QLatin1Char('\n'))) + 1;
        error.column = int(start - (before.lastIndexOf(QLatin1Char('\n')) + 1)) + 1;
        return true;
    }
    return false;
}

bool loadReply(QDomDocument &document, const QString &reply, ParseError &error)
{
    if (isRefused(reply, error))
        return false;
    return document.setContent(reply, false, &error.reason, &error.line, &error.column);
}

// The text of the root element QuoteData's first child element `name`.
// Names are matched as written in the reply, so a default namespace is
// invisible while a prefixed element does not match.
QString selectText(const QDomDocument &document, const QString &name)
{
    const QDomElement top = document.documentElement();
    const QDomElement node = top.firstChildElement(name);
    if (top.tagName() != QLatin1String("QuoteData") || node.isNull())
        throw RuntimeError(Errors::ObjectNotSet);
    return node.text();
}

// The service's optional word on the quote, <Notice> under the root: one line
// of at most NoticeLength characters, whatever the reply holds. Line ends and
// other control characters become blanks. "" when the reply has none.
QString noticeOf(const QDomDocument &document)
{
    const QDomElement top = document.documentElement();
    if (top.tagName() != QLatin1String("QuoteData"))
        return {};
    QString text = top.firstChildElement(QStringLiteral("Notice")).text();
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    text = text.simplified();
    if (text.size() > NoticeLength) {
        // Not in the middle of a surrogate pair.
        qsizetype cut = NoticeLength;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;
        text.truncate(cut);
    }
    return text;
}

// The parser's reason is shown as a line of its own, ending with a line end
// before the position lines.
QString withLineEnd(const QString &reason)
{
    return reason.endsWith(AppShell::CrLf) ? reason : reason + AppShell::CrLf;
}

// The charset parameter of a Content-Type header value, "" when absent.
QByteArray charsetOf(const QByteArray &contentType)
{
    static const QRegularExpression charset(
            QStringLiteral(";\\s*charset\\s*=\\s*\"?([A-Za-z0-9._:-]+)"),
            QRegularExpression::CaseInsensitiveOption);
    return charset.match(QString::fromLatin1(contentType)).captured(1).toLatin1();
}

// The encoding of the XML declaration at the start of the reply, "" when absent.
QByteArray declaredEncoding(const QByteArray &body)
{
    static const QRegularExpression declaration(QStringLiteral(
            "^<\\?xml\\s[^>]*?encoding\\s*=\\s*[\"']([A-Za-z][A-Za-z0-9._-]*)[\"']"));
    return declaration.match(QString::fromLatin1(body.left(256))).captured(1).toLatin1();
}

// A byte order mark decides; then the charset the reply was sent with, then
// its XML declaration; UTF-8 when none says, or names an encoding unknown here.
QString decodeReply(const QByteArray &body, const QByteArray &contentType)
{
    std::optional<QStringConverter::Encoding> encoding
            = QStringConverter::encodingForData(body, u'<');
    // An absent name ("") names no encoding.
    if (!encoding)
        encoding = QStringConverter::encodingForName(charsetOf(contentType).constData());
    if (!encoding)
        encoding = QStringConverter::encodingForName(declaredEncoding(body).constData());
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    return decoder(body);
}

} // namespace

QString buildQuoteText(ErrorTrap &trap, const QString &symbol, const QString &reply,
                       QWidget *boxParent, QString *notice)
{
    if (reply.isEmpty()) // 102
        return {};
    const auto mentions
            = [&reply](QStringView name) { return reply.contains(name, Qt::CaseInsensitive); };
    QString result;
    QDomDocument document; // 104
    ParseError error;
    bool loaded = false;
    trap(106, [&] { loaded = loadReply(document, reply, error); });
    if (!loaded) {
        trap(108, [&] {
            trap.message(boxParent,
                         QStringLiteral("Error reading XML API") + AppShell::CrLf
                                 + QStringLiteral("error:") + withLineEnd(error.reason)
                                 + AppShell::CrLf + QStringLiteral("Line:")
                                 + QString::number(error.line) + AppShell::CrLf
                                 + QStringLiteral("position:") + QString::number(error.column));
        });
    } else {
        // Each line is appended only once its whole step has succeeded.
        trap(110, [&] { result = symbol + AppShell::CrLf; });
        // A labelled line for an element that the reply mentions anywhere.
        const auto addLine = [&](int first, const QString &name, const QString &label) {
            if (trap.when(first, [&] { return mentions(name); })) {
                trap(first + 2,
                     [&] { result += label + selectText(document, name) + AppShell::CrLf; });
            }
        };
        addLine(112, QStringLiteral("StockChange"), QStringLiteral("Stock Change: "));
        addLine(116, QStringLiteral("ChangePercent"), QStringLiteral("Percentage Change: "));
        if (trap.when(120, [&] { return mentions(u"LastTradeAmount"); })) {
            trap(122, [&] {
                const QDateTime fetched = Clock::instance().now();
                result += selectText(document, QStringLiteral("LastTradeAmount")) + AppShell::CrLf
                        + Convert::formatTimeOfDay(fetched);
            });
        }
        if (notice)
            *notice = noticeOf(document);
    }
    trap(124, [&] { document.clear(); });
    return result;
}

Fetcher &Fetcher::instance()
{
    return sInstalled ? *sInstalled : production();
}

Fetcher &Fetcher::production()
{
    static NetworkFetcher network;
    return network;
}

SystemConfigFile &SystemConfigFile::instance()
{
    static SystemConfigFile etc(QStringLiteral("/etc/tallow-marquee/quote-service.ini"));
    return sInstalled ? *sInstalled : etc;
}

QString requestUrl(const QString &symbol)
{
    const ServiceConfig config = readServiceConfig();
    return QStringLiteral("http://") + config.host
            + QStringLiteral("/delayedstockquote/delayedstockquote.asmx/GetQuote?StockSymbol=")
            + encoded(symbol) + QStringLiteral("&LicenseKey=") + encoded(config.token);
}

QString getStockQuote(ErrorTrap &trap, const QString &symbol, QWidget *boxParent, QString *notice)
{
    QByteArray body;
    QByteArray contentType;
    trap(100, [&] {
        body = Fetcher::instance().get(requestUrl(symbol));
        contentType = Fetcher::instance().contentType();
    });
    return buildQuoteText(trap, symbol, decodeReply(body, contentType), boxParent, notice);
}

} // namespace Quote
