#pragma once

#include "app/scopedoverride.h"

#include <QByteArray>
#include <QString>

class ErrorTrap;
class QWidget;

// The quote client: builds the request for one symbol, fetches the reply and
// turns it into the quote text that the display draws.
namespace Quote {

// The HTTP fetch seam: returns the reply body; throws RuntimeError with the
// failure description when the fetch fails.
class Fetcher
{
public:
    virtual ~Fetcher() = default;
    virtual QByteArray get(const QString &url) = 0;
    // The Content-Type header of the reply get() returned last, "" when it
    // had none (its charset parameter decides how the reply is decoded).
    virtual QByteArray contentType() const { return {}; }

    // The installed fetcher; production fetches with QtNetwork.
    static Fetcher &instance();
    static Fetcher &production();

private:
    friend class ScopedOverride<Fetcher>;
    static inline Fetcher *sInstalled = nullptr;
};

// Optional file whose [QuoteService] section overrides the built-in Host and
// LicenseKey, key by key. The first one present is read: beside the program,
// in the user's config folder (tallow-marquee/quote-service.ini), then the
// system-wide file.
inline const QString ConfigFile = QStringLiteral("\\quote-service.ini");

// Where the system-wide file is: /etc/tallow-marquee/quote-service.ini, or
// the path of an installed override.
class SystemConfigFile
{
public:
    explicit SystemConfigFile(QString path) : mPath(std::move(path)) { }
    const QString &path() const { return mPath; }

    static SystemConfigFile &instance();

private:
    QString mPath;

    friend class ScopedOverride<SystemConfigFile>;
    static inline SystemConfigFile *sInstalled = nullptr;
};

// The full request URL for `symbol`, with the symbol and the access token
// percent-encoded in the query.
QString requestUrl(const QString &symbol);

// Fetches and parses the quote of `symbol`, each step under the caller's
// error trap. Returns the quote text, or "" when nothing could be fetched or
// parsed. The box about a reply that is not XML gets `boxParent`.
// A reply may carry a <Notice> from the service (simulated prices, a stale
// quote); it is not part of the quote text and goes to `notice` when given:
// "" for a reply that parsed without one, untouched when nothing parsed.
QString getStockQuote(ErrorTrap &trap, const QString &symbol, QWidget *boxParent = nullptr,
                      QString *notice = nullptr);

// The part of getStockQuote after the fetch: turns a reply into the quote text.
QString buildQuoteText(ErrorTrap &trap, const QString &symbol, const QString &reply,
                       QWidget *boxParent = nullptr, QString *notice = nullptr);

// The longest notice shown; a longer one is cut.
inline constexpr qsizetype NoticeLength = 120;

} // namespace Quote
