#include "support/testsupport.h"

#include "app/errortrap.h"
#include "app/forms.h"
#include "app/runtimeerror.h"
#include "app/settings.h"
#include "options/windows.h"

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTest>

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

QByteArray FakeFetcher::get(const QString &url)
{
    urls.append(url);
    if (fail)
        throw RuntimeError(QStringLiteral("Could not connect to server"));
    return reply;
}

TestEnvironment::TestEnvironment()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, mDir.path());
    Forms::registerWindows();
    Forms::setQuitHandler([] {});
}

TestEnvironment::~TestEnvironment()
{
    Forms::destroyAll();
    Forms::setQuitHandler(nullptr);
    QStringList open;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            open << QString::fromLatin1(window->metaObject()->className()) + QLatin1Char(' ')
                            + window->windowTitle();
            window->close();
        }
    }
    if (!open.isEmpty()) {
        const QString message = QStringLiteral("A top-level window was left open: ")
                + open.join(QStringLiteral(", "));
        QTest::qFail(qPrintable(message), __FILE__, __LINE__);
    }
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
