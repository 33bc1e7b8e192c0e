#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QSocketNotifier;

// One running program per user and display. The first start listens on a
// local socket named after both; a later start that reaches it asks it to
// bring its window to the front and then ends.
//
// On Unix the socket is a plain AF_UNIX one watched by a QSocketNotifier:
// QLocalServer would bring in QtNetwork and the libraries behind it (about
// 2 MiB of memory and part of every start) for this one connection.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this is the only instance and it now answers later starts;
    // false when a running one was asked to come to the front. A socket left
    // behind by an instance that was killed is removed, never obeyed.
    bool start();

    // The socket's name, a path in the user's runtime folder where the
    // platform has one.
    static QString serverName();

private:
    void raiseWindows();
    void listenFailed(const QString &name, const QString &reason);

#ifdef Q_OS_UNIX
    void acceptPending();

    int mListener = -1;
    QByteArray mPath;
    QSocketNotifier *mNotifier = nullptr;
#else
    QLocalServer *mServer = nullptr;
#endif
};
