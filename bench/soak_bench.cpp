// Seven days of the display compressed: 604,800 refresh ticks driven by hand
// with a clock that advances one second per tick, so every 600th tick makes
// its two real fetches (1,008 refreshes) from the bundled quote service,
// started here on a free port of 127.0.0.1. Prints the program's resident
// memory at the start, after each simulated day and at the end.
//
//   soak_bench [--days N] [--service PATH_TO_tallow-quoted]
//
// The service defaults to tallow-quoted beside this program. Drawing is
// offscreen at 1920x1080.

#include "app/forms.h"
#include "app/seams.h"
#include "display/form2.h"
#include "options/form1.h"
#include "options/windows.h"
#include "quote/networkfetcher.h"
#include "quote/quote.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

constexpr int TicksPerDay = 24 * 60 * 60;

class SteppedClock : public Clock
{
public:
    QDateTime now() const override { return mNow; }
    void advance() { mNow = mNow.addSecs(1); }

private:
    // A whole second, so every tick lands on the second.
    QDateTime mNow = QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0));
};

// The real network fetch, pointed at the service's port instead of the
// configured host: the rest of the request is the program's own.
class LocalServiceFetcher : public Quote::Fetcher
{
public:
    explicit LocalServiceFetcher(int port) : mPort(port) { }

    QByteArray get(const QString &url) override
    {
        ++requests;
        QUrl local(url);
        local.setHost(QStringLiteral("127.0.0.1"));
        local.setPort(mPort);
        return mNetwork.get(local.toString(QUrl::FullyEncoded));
    }

    int requests = 0;

private:
    Quote::NetworkFetcher mNetwork;
    int mPort;
};

// A box would stop the run; count them instead (a failed fetch shows one).
class CountingDialogs : public Dialogs
{
public:
    void message(QWidget *, const QString &text, const QString &, BoxIcon) override
    {
        if (boxes++ == 0)
            std::fprintf(stderr, "first box: %s\n", qPrintable(text));
    }
    void chooseFont(QWidget *, FontChoice &) override { }
    void chooseColor(QWidget *, std::uint32_t &) override { }

    int boxes = 0;
};

long residentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Starts the service on a free port and returns the port, or 0.
int startService(QProcess &service, const QString &program)
{
    service.start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    if (!service.waitForStarted())
        return 0;
    service.setReadChannel(QProcess::StandardError);
    QByteArray output;
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000 && service.waitForReadyRead(1000)) {
        output += service.readAllStandardError();
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(output));
        if (match.hasMatch())
            return match.captured(1).toInt();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int days = 7;
    QString serviceProgram = QCoreApplication::applicationDirPath() + "/tallow-quoted";
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--days")
            days = args[i + 1].toInt();
        else if (args[i] == "--service")
            serviceProgram = args[i + 1];
    }

    QProcess service;
    service.setProcessChannelMode(QProcess::SeparateChannels);
    const int port = startService(service, serviceProgram);
    if (port == 0) {
        std::fprintf(stderr, "soak_bench: %s did not start\n", qPrintable(serviceProgram));
        return 1;
    }

    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    SteppedClock clock;
    LocalServiceFetcher fetcher(port);
    CountingDialogs dialogs;
    const ScopedOverride<Clock> steppedClock(clock);
    const ScopedOverride<Quote::Fetcher> localService(fetcher);
    const ScopedOverride<Dialogs> countedBoxes(dialogs);
    Forms::registerWindows();

    Form1 *form1 = Forms::form1();
    form1->show();
    form1->findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("MSFT"));
    form1->PushButton1_Click();
    Form2 *form2 = Forms::loadedForm2();
    // The ticks are driven by hand; the timers must not add their own.
    form2->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    form2->findChild<QTimer *>(QStringLiteral("Timer2"))->stop();
    form2->setGeometry(0, 0, 1920, 1080);
    QApplication::processEvents();

    std::printf("day\tticks\trefreshes\trss_kib\tseconds\n");
    QElapsedTimer elapsed;
    elapsed.start();
    const auto report = [&](const char *label, long ticks) {
        std::printf("%s\t%ld\t%d\t%ld\t%.1f\n", label, ticks, fetcher.requests / 2, residentKib(),
                    double(elapsed.elapsed()) / 1000.0);
        std::fflush(stdout);
    };
    const int startRequests = fetcher.requests;
    report("start", 0);
    long firstDayKib = 0;
    long ticks = 0;
    for (int day = 1; day <= days; ++day) {
        for (int i = 0; i < TicksPerDay; ++i, ++ticks) {
            clock.advance();
            form2->Timer1_Timer();
        }
        report(qPrintable(QString::number(day)), ticks);
        if (day == 1)
            firstDayKib = residentKib();
    }
    const long endKib = residentKib();
    report("end", ticks);
    std::printf("refresh requests: %d, boxes shown: %d", fetcher.requests - startRequests,
                dialogs.boxes);
    if (days > 0)
        std::printf(", growth after the first day: %+ld KiB", endKib - firstDayKib);
    std::printf("\n");

    Forms::destroyAll();
    service.kill();
    service.waitForFinished();
    return dialogs.boxes == 0 ? 0 : 1;
}
