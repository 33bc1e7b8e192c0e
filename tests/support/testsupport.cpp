#include "support/testsupport.h"

#include "app/errortrap.h"
#include "app/forms.h"
#include "app/settings.h"

#include <QFile>
#include <QSettings>

void FakeDialogs::message(QWidget *, const QString &text, const QString &title, BoxIcon icon)
{
    messages.append({text, title, icon});
    if (onMessage)
        onMessage();
}

void FakeDialogs::chooseFont(QWidget *, FontChoice &font)
{
    fontPresets.append(font);
    if (onFont)
        onFont(font);
}

void FakeDialogs::chooseColor(QWidget *, std::uint32_t &color)
{
    colorPresets.append(color);
    if (onColor)
        onColor(color);
}

QStringList FakeDialogs::errorTexts() const
{
    QStringList texts;
    for (const ShownMessage &shown : messages) {
        if (shown.title == QLatin1String("Application Error"))
            texts.append(shown.text);
    }
    return texts;
}

TestEnvironment::TestEnvironment()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, mDir.path());
    Dialogs::install(&dialogs);
    Clock::install(&clock);
    Forms::setQuitHandler([] {});
}

TestEnvironment::~TestEnvironment()
{
    Forms::destroyAll();
    Forms::setQuitHandler(nullptr);
    Dialogs::install(nullptr);
    Clock::install(nullptr);
}

QString TestEnvironment::storeFile() const
{
    return Settings::location();
}

QString TestEnvironment::storeText() const
{
    QFile file(storeFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString TestEnvironment::stored(const QString &key) const
{
    QSettings raw(storeFile(), QSettings::IniFormat);
    return raw.contains(key) ? raw.value(key).toString() : QStringLiteral("<absent>");
}

QString errorReport(const QString &description, const QString &window, const QString &operation,
                    int step)
{
    return ErrorTrap::composeMessage(description, ErrorTrap(window, operation).location(), step);
}
