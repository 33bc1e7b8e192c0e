#pragma once

#include "app/scopedoverride.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

class QWidget;

// Everything modal or time-dependent goes through these seams so that tests
// can answer at once and read back what was asked.

enum class BoxIcon { None, Warning };

// The members of the font dialog the program presets and reads back.
struct FontChoice
{
    QString name;
    bool bold = false;
    bool italic = false;
    float size = 0.0f;
    bool strikethru = false;
    bool underline = false;
};

class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A modal box with one OK button.
    virtual void message(QWidget *parent, const QString &text, const QString &title, BoxIcon icon)
            = 0;
    // Shows the font dialog preset to `font`; on OK `font` takes the choice,
    // on Cancel it is left as it was.
    virtual void chooseFont(QWidget *parent, FontChoice &font) = 0;
    // Same for a colour, as a 0x00BBGGRR value.
    virtual void chooseColor(QWidget *parent, std::uint32_t &color) = 0;

    // The installed dialogs; production shows Qt's boxes and dialogs.
    static Dialogs &instance();
    static Dialogs &production();

    // For an unattended wall screen: the production message box closes by
    // itself after this many milliseconds, as if OK were pressed. 0, the
    // default, leaves it open until someone answers it.
    static void setMessageAutoClose(int milliseconds);
    static int messageAutoClose();

private:
    friend class ScopedOverride<Dialogs>;
    static inline Dialogs *sInstalled = nullptr;
};

class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The installed clock; production reads the system time.
    static Clock &instance();
    static Clock &production();

private:
    friend class ScopedOverride<Clock>;
    static inline Clock *sInstalled = nullptr;
};
