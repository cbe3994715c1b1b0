#pragma once

#include "demo/demohttp.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class QTcpSocket;

// One client connection of the demo site: reads HTTP/1.1 requests one after another (keep-alive
// and pipelining), asks the handler for each answer and streams the body, never holding more than
// a few hundred kilobytes of it in the socket's buffer. Deletes itself when the connection ends.
class DemoConnection : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<DemoResponse(const DemoRequest &)>;

    DemoConnection(QTcpSocket *socket, Handler handler, QObject *parent = nullptr);

    static constexpr int kMaxHeadSize = 64 * 1024;
    static constexpr int kMaxBodySize = 64 * 1024;
    static constexpr int kIdleTimeoutMs = 30000;
    static constexpr int kPaceStepMs = 50; // a paced body goes out in steps this far apart

private:
    enum class Parse { NeedMore, Ready, Failed };

    void readIncoming();
    Parse parseRequest(DemoRequest &request);
    void start(const DemoRequest &request, DemoResponse response);
    void pump();
    // What the next piece of the body may hold: the piece size, cut at a drop and at the pace.
    qint64 pieceLength() const;
    void finishResponse();
    void fail(int status);

    QTcpSocket *m_socket;
    Handler m_handler;
    QTimer m_idle;
    QByteArray m_in;

    // The answer being sent.
    bool m_sending = false;
    DemoBody m_body;
    qint64 m_sent = 0;
    bool m_chunked = false;
    bool m_closeAfter = false;
    qint64 m_cutAfter = -1;
    qint64 m_rate = 0; // bytes a second; 0 unpaced
    QElapsedTimer m_paceClock;
    QTimer m_paceTimer;
    bool m_closing = false; // no further requests are read
    int m_failStatus = 0;
};
