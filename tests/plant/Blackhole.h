#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback port whose host does not answer: a listener whose accept queue is full drops
// every further connection request, so a connect to it waits as for a host that drops
// packets (for minutes, or until its time-out).
class Blackhole {
public:
    Blackhole() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(m_listener, 0);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        ::connect(m_filler, reinterpret_cast<sockaddr*>(&a), sizeof a); // fills the queue
    }
    ~Blackhole() {
        close(m_filler);
        close(m_listener);
    }
    Blackhole(const Blackhole&) = delete;
    Blackhole& operator=(const Blackhole&) = delete;
    int port() const { return m_port; }

private:
    int m_listener = socket(AF_INET, SOCK_STREAM, 0);
    int m_filler = socket(AF_INET, SOCK_STREAM, 0);
    int m_port = 0;
};
