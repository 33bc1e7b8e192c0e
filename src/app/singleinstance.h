#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running program per user and display. The first start listens on a
// local socket named after both; a later start that reaches it asks it to
// bring its window to the front and then ends.
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

    QLocalServer *mServer = nullptr;
};
