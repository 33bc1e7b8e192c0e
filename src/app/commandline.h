#pragma once

#include <QString>
#include <QStringList>

// The program's command line. Run without arguments it behaves as it always
// has; the options are additions for installed and unattended use.
namespace CommandLine {

struct Options
{
    enum class Action { Run, Help, Version, Fail };
    Action action = Action::Run;
    // Opens the display at once and lets message boxes close by themselves.
    bool kiosk = false;
    // How long a message box stays in kiosk mode. Only tests change it,
    // through an option that the help does not list.
    int boxCloseMilliseconds = 30000;
    // Why the arguments were refused (Action::Fail).
    QString error;
};

// Reads the arguments after the program name.
Options parse(const QStringList &arguments);

QString usage();
QString versionText();

// Parses argv before any window exists. Prints the help or the version to
// standard output and returns 0, or prints the complaint and the usage to
// standard error and returns 2; returns -1 when the program should start.
int handle(int argc, char **argv, Options &options);

} // namespace CommandLine
