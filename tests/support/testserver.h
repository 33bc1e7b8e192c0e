#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// One accepted connection of the TestServer.
class Connection
{
public:
    Connection(int socket, const std::atomic<bool> &stopping) : mSocket(socket), mStopping(stopping)
    { }

    QByteArray head; // request line and headers
    // False once the client has gone or the server stops.
    bool send(const QByteArray &data);
    // Keeps the connection open without answering until the client leaves.
    void hold();
    // Ends the connection with a reset instead of an orderly close.
    void reset();
    bool stopping() const { return mStopping; }

private:
    int mSocket;
    const std::atomic<bool> &mStopping;
};

// An HTTP server on 127.0.0.1 with a free port, on threads of its own, so that
// a blocking fetch on the test's thread can reach it: one accepts, and each
// connection is answered on a thread of its own, so one held connection does
// not hold up the others. Every wait is bounded.
class TestServer
{
public:
    using Responder = std::function<void(Connection &)>;

    explicit TestServer(Responder respond);
    ~TestServer();

    quint16 port() const { return mPort; }
    // The heads of the requests received so far, in the order they arrived.
    QByteArrayList heads() const;

private:
    void run();
    void serve(int socket);

    Responder mRespond;
    int mListener = -1;
    quint16 mPort = 0;
    std::atomic<bool> mStopping{false};
    mutable std::mutex mMutex;
    QByteArrayList mHeads;
    std::thread mThread;
};

// A port on 127.0.0.1 that refuses connections while the object lives.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    quint16 port() const { return mPort; }

private:
    int mSocket = -1;
    quint16 mPort = 0;
};
