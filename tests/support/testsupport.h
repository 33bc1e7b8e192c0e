#pragma once

#include "app/seams.h"
#include "display/keepawake.h"
#include "quote/quote.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>
#include <memory>

// One message box the program asked for.
struct ShownMessage
{
    QString text;
    QString title;
    BoxIcon icon;
};

// Answers every modal request at once and records it.
class FakeDialogs : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text, const QString &title, BoxIcon icon) override;
    void chooseFont(QWidget *parent, FontChoice &font) override;
    void chooseColor(QWidget *parent, std::uint32_t &color) override;

    QList<ShownMessage> messages;
    // Error reports only ("Application Error" boxes).
    QStringList errorTexts() const;

    QList<FontChoice> fontPresets;
    std::function<void(FontChoice &)> onFont; // unset: Cancel
    QList<std::uint32_t> colorPresets;
    std::function<void(std::uint32_t &)> onColor; // unset: Cancel
    std::function<void()> onMessage;
};

class FakeClock : public Clock
{
public:
    QDateTime now() const override { return time; }
    QDateTime time = QDateTime(QDate(2026, 12, 8), QTime(21, 5, 7));
};

// Answers every request at once from a script and records the requests.
class FakeFetcher : public Quote::Fetcher
{
public:
    QByteArray get(const QString &url) override;
    QByteArray contentType() const override { return type; }

    QStringList urls;
    QByteArray reply;
    QByteArray type; // the reply's Content-Type
    bool fail = false; // throws "Could not connect to server"
};

// Counts the keep-awake calls instead of making them.
class FakeKeepAwake : public KeepAwake
{
public:
    void pressRightShift() override { ++presses; }
    void releaseRightShift() override { ++releases; }
    void resetIdleTimer() override { ++idleResets; }

    int presses = 0;
    int releases = 0;
    int idleResets = 0;
};

// One test function's world: a private settings store, the windows
// registered, and a fake behind every seam (dialogs, clock, fetch,
// keep-awake). A test that needs a production seam overrides it again for
// its own scope. A top-level window still open at the end fails the test.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment &) = delete;
    TestEnvironment &operator=(const TestEnvironment &) = delete;

    QString storeFile() const;
    // The raw text of the store file ("" when it does not exist).
    QString storeText() const;
    // Reads a key straight from the file (case-sensitively), "<absent>" if missing.
    QString stored(const QString &key) const;

    FakeDialogs dialogs;
    FakeClock clock;
    FakeFetcher fetcher;
    FakeKeepAwake keepAwake;

private:
    QTemporaryDir mDir;
    ScopedOverride<Dialogs> mDialogs{dialogs};
    ScopedOverride<Clock> mClock{clock};
    ScopedOverride<Quote::Fetcher> mFetcher{fetcher};
    ScopedOverride<KeepAwake> mKeepAwake{keepAwake};
};

// The control of `window` with the object name `name`; the test run stops
// with the name when there is none.
template<typename Control>
Control *child(const QWidget *window, const char *name)
{
    auto *control = window->findChild<Control *>(QLatin1String(name));
    if (!control)
        qFatal("%s has no control %s", window->metaObject()->className(), name);
    return control;
}

// The message an error trap composes, for comparisons.
QString errorReport(const QString &description, const QString &window, const QString &operation,
                    int step);
