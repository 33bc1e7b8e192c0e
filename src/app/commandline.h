#pragma once

#include <QString>
#include <QStringList>

class QScreen;

// The program's command line. Run without arguments it behaves as it always
// has; the options are additions for installed and unattended use.
namespace CommandLine {

struct Options
{
    enum class Action { Run, Help, Version, Fail };
    Action action = Action::Run;
    // Opens the display at once and lets message boxes close by themselves.
    bool kiosk = false;
    // The monitor to open on (--screen); empty for the primary one.
    QString screen;
    // Why the arguments were refused (Action::Fail).
    QString error;
};

// Reads the arguments after the program name. Qt's own options are left for
// QApplication, which takes them out of argv.
Options parse(const QStringList &arguments);

// The screen of that name; with no name, or a name no screen has (said on
// standard error with the names there are), the primary screen.
QScreen *screenNamed(const QString &name);

QString usage();
QString versionText();

// Parses argv before any window exists. Prints the help or the version to
// standard output and returns 0, or prints the complaint and the usage to
// standard error and returns 2; returns -1 when the program should start.
int handle(int argc, char **argv, Options &options);

} // namespace CommandLine
