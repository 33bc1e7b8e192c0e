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
    // behind by an instance that was killed is removed, never obeyed, and so
    // is one that another user listens on.
    bool start();

    // The socket's name: on Unix a path in a folder that only the user can
    // write to (the runtime folder, else a private folder of the user's
    // own); "" when there is no such folder.
    static QString serverName();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool listen();
    void listenAgainLater(int milliseconds);
    void answerPending();
    void raiseWindows();

    QString mName;
    QLocalServer *mServer = nullptr;
    bool mListenAgainPending = false;
};
