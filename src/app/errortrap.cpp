#include "app/errortrap.h"

#include "app/appshell.h"
#include "app/seams.h"

#include <QApplication>

ErrorTrap::ErrorTrap(QString window, QString operation)
    : mWindow(std::move(window)), mOperation(std::move(operation))
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
    Dialogs::instance().message(QApplication::activeWindow(),
                                composeMessage(description, location(), step),
                                QStringLiteral("Application Error"), BoxIcon::Warning);
}

void reportUntrapped(const char *where, const QString &description)
{
    Dialogs::instance().message(QApplication::activeWindow(),
                                description + AppShell::CrLf + QStringLiteral("in ")
                                        + QString::fromLatin1(where),
                                AppShell::appTitle(), BoxIcon::Warning);
}
