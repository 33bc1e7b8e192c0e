#pragma once

#include "app/seams.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTemporaryDir>

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

// A private settings store, fake dialogs and clock for one test function.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    QString storeFile() const;
    // The raw text of the store file ("" when it does not exist).
    QString storeText() const;
    // Reads a key straight from the file (case-sensitively), "<absent>" if missing.
    QString stored(const QString &key) const;

    FakeDialogs dialogs;
    FakeClock clock;

private:
    QTemporaryDir mDir;
};

// The message an error trap composes, for comparisons.
QString errorReport(const QString &description, const QString &window, const QString &operation,
                    int step);
