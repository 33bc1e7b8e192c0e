#include "quote/networkfetcher.h"

#include "app/runtimeerror.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace Quote {

namespace {

// What the worker thread hands back: the body and its type, or the failure.
struct Outcome
{
    QByteArray body;
    QByteArray contentType;
    QString failure;
};

// How many redirects a request follows before it fails.
constexpr int MaxRedirects = 3;

// The longest part of the service's own text that a status report quotes.
constexpr qsizetype MaxStatusLine = 200;

QString tooLargeText(qsizetype limit)
{
    const qsizetype kibibyte = 1024;
    const QString size = limit % kibibyte == 0 ? QStringLiteral("%1 KiB").arg(limit / kibibyte)
                                               : QStringLiteral("%1 bytes").arg(limit);
    return QStringLiteral("The quote service sent more than %1; the reply was refused.").arg(size);
}

QString timedOutText(std::chrono::milliseconds limit)
{
    return QStringLiteral("The quote service did not answer within %1 seconds.")
            .arg(QString::number(double(limit.count()) / 1000.0));
}

// "HTTP 503: " and the first line of the service's text, or the status
// line's reason when the body says nothing. A service that starts its text
// with the status again ("503 Service Unavailable: no recent quote...") is
// quoted from after that prefix.
QString statusText(int status, const QByteArray &reason, const QByteArray &body)
{
    QString line = QString::fromUtf8(body).section(QLatin1Char('\n'), 0, 0).trimmed();
    const QString code = QString::number(status);
    if (line.startsWith(code) && line.indexOf(QLatin1String(": ")) > 0)
        line = line.mid(line.indexOf(QLatin1String(": ")) + 2).trimmed();
    if (line.isEmpty())
        line = QString::fromLatin1(reason).trimmed();
    if (line.size() > MaxStatusLine)
        line = line.left(MaxStatusLine) + QStringLiteral("...");
    return QStringLiteral("HTTP %1: %2").arg(code, line);
}

bool isLoopback(const QUrl &url)
{
    const QString host = url.host();
    return host.compare(u"localhost", Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

// Runs on the worker thread: the request from start to end, within the
// time limit and the body limit.
Outcome fetch(const QUrl &url, std::chrono::milliseconds timeLimit, qsizetype bodyLimit)
{
    Outcome outcome;
    QNetworkAccessManager manager;
    // The program reads no environment variables, so no proxy from http_proxy.
    manager.setProxy(QNetworkProxy::NoProxy);
    // Redirects from http to https are followed, never from https to http.
    manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    const std::unique_ptr<QNetworkReply> reply(manager.get(request));
    // Held data stays under the limit: a larger body is refused anyway.
    reply->setReadBufferSize(bodyLimit + 1);

    bool timedOut = false;
    bool tooLarge = false;
    const auto refuse = [&](bool &reason) {
        reason = true;
        reply->abort();
    };
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] { refuse(timedOut); });
    // An announced oversize body is refused before it arrives.
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > bodyLimit)
            refuse(tooLarge);
    });
    // This also bounds chunked and close-delimited bodies.
    QObject::connect(reply.get(), &QIODevice::readyRead, &loop, [&] {
        outcome.body += reply->readAll();
        if (outcome.body.size() > bodyLimit)
            refuse(tooLarge);
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(timeLimit);
    if (!reply->isFinished())
        loop.exec();
    if (!tooLarge && !timedOut)
        outcome.body += reply->readAll();
    if (outcome.body.size() > bodyLimit)
        tooLarge = true;

    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (tooLarge) {
        outcome.failure = tooLargeText(bodyLimit);
    } else if (timedOut) {
        outcome.failure = timedOutText(timeLimit);
    } else if (error == QNetworkReply::TooManyRedirectsError
               || error == QNetworkReply::InsecureRedirectError) {
        outcome.failure = reply->errorString();
    } else if (status.isValid() && status.toInt() / 100 != 2) {
        outcome.failure = statusText(
                status.toInt(),
                reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray(),
                outcome.body);
    } else if (error != QNetworkReply::NoError) {
        outcome.failure = reply->errorString();
        // The bundled service on this machine is not running (a user unit
        // that was never enabled, for one): say how to start it.
        if (error == QNetworkReply::ConnectionRefusedError && isLoopback(url))
            outcome.failure += QStringLiteral(". " QUOTE_SERVICE_START);
    } else {
        outcome.contentType = reply->rawHeader("Content-Type");
    }
    return outcome;
}

} // namespace

NetworkFetcher::NetworkFetcher(std::chrono::milliseconds timeLimit, qsizetype bodyLimit)
    : mTimeLimit(timeLimit), mBodyLimit(bodyLimit)
{ }

QByteArray NetworkFetcher::get(const QString &url)
{
    mContentType.clear();
    const QUrl address(url);
    Outcome outcome;
    const std::unique_ptr<QThread> worker(
            QThread::create([&] { outcome = fetch(address, mTimeLimit, mBodyLimit); }));
    worker->start();
    // Blocks the calling thread, events and all, until the request has ended.
    worker->wait();
    if (!outcome.failure.isEmpty())
        throw RuntimeError(outcome.failure);
    mContentType = outcome.contentType;
    return outcome.body;
}

} // namespace Quote
