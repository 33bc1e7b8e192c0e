#include "app/errortrap.h"

#include "app/appshell.h"
#include "app/seams.h"

#include <QApplication>

ErrorTrap::ErrorTrap(QString window, QString operation, Redirect redirect)
    : mWindow(std::move(window)), mOperation(std::move(operation)), mRedirect(std::move(redirect))
{ }

QString ErrorTrap::location() const
{
    return QStringLiteral("in %1.%2.%3 ").arg(AppShell::ProjectTag, mWindow, mOperation);
}

QString ErrorTrap::composeMessage(const QString &description, const QString &location, int step)
{
    return description + AppShell::CrLf + location + QStringLiteral("at line ")
            + QString::number(step) + QStringLiteral("\r\r")
            + QStringLiteral("Please email screenshot of this message to ")
            + AppShell::SupportAddress;
}

void ErrorTrap::report(int step, const QString &description) const
{
    if (mRedirect) {
        mRedirect(description, composeMessage(description, location(), step));
        return;
    }
    Dialogs::instance().message(QApplication::activeWindow(),
                                composeMessage(description, location(), step),
                                QStringLiteral("Application Error"), BoxIcon::Warning);
}

void ErrorTrap::message(QWidget *parent, const QString &text) const
{
    if (mRedirect) {
        mRedirect(text, text);
        return;
    }
    Dialogs::instance().message(parent, text, AppShell::appTitle(), BoxIcon::None);
}

void reportUntrapped(const char *where, const QString &description)
{
    Dialogs::instance().message(QApplication::activeWindow(),
                                description + AppShell::CrLf + QStringLiteral("in ")
                                        + QString::fromLatin1(where),
                                AppShell::appTitle(), BoxIcon::Warning);
}
