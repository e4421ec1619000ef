// The limits that keep the server answering its user while other clients
// hold connections open doing nothing, or send their requests a byte at a
// time (measured by tests/serve, the load test):
//
// - one thread a connection, made when the connection comes, up to
//   MaxConnectionThreads at once; a connection beyond that waits (accepted,
//   holding only its socket) until a thread is free. cpp-httplib reads a
//   connection in the thread that serves it, so a fixed pool of N threads is
//   deaf as soon as N connections sit idle: here idle ones cost a thread's
//   small stack each and the others are still served.
// - a connection that sends nothing, before its first request or between
//   two, is closed after KeepAliveSeconds (on the loopback interface a new
//   connection costs next to nothing; and the end of the run waits for the
//   connections kept alive, which cpp-httplib cannot interrupt);
// - a request whose next bytes do not come within ReadSeconds is dropped, and
//   an answer the client does not take within WriteSeconds;
// - a request's body (the server has no use for one) is at most MaxPayload.
//
// - up to SOMAXCONN connections wait to be accepted (cpp-httplib asks for 5:
//   beyond that a new connection's first packet is dropped and only sent
//   again a second later);
// - the listening socket takes the port again while the last run's closed
//   connections linger (SO_REUSEADDR), but never shares it with a server
//   already listening there (cpp-httplib's SO_REUSEPORT would let a second
//   run listen beside the first and take half its requests).
//
// - an answer's parts are sent at once (TCP_NODELAY): cpp-httplib writes the
//   head and the body apart, and the body would otherwise wait for the
//   client's delayed acknowledgement, some 40 ms an answer on keep-alive.
//
// A client sending one byte every second holds a thread for as long as it
// keeps doing so; the cap bounds what such clients can take.
#include <sys/resource.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include <httplib.h>
#include <pthread.h>

#include "host/serve/serve.h"

namespace {

constexpr size_t MaxConnectionThreads = 1024;
constexpr size_t ThreadStack = 512 * 1024;
constexpr int IdleThreadSeconds = 10;  // a free thread waits this long for a connection
constexpr time_t KeepAliveSeconds = 2;
constexpr time_t ReadSeconds = 2;
constexpr time_t WriteSeconds = 5;
constexpr size_t MaxPayload = 64 * 1024;
constexpr size_t MaxRequestsAConnection = 100;

// cpp-httplib's queue of accepted connections, each a job that serves it to
// its end. A job waits only while MaxConnectionThreads threads are busy.
class ConnectionThreads : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> job) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        // A free thread takes it, unless the free ones are all taken by the
        // jobs before (woken, they are still counted free until they run).
        if (jobs_.size() <= idle_) {
            wake_.notify_one();
            return;
        }
        if (threads_ < MaxConnectionThreads && Start())
            return;
        if (threads_ == 0) {
            // No thread can be made at all: served here, the others wait.
            std::function<void()> now = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            now();
        }
    }

    // The end of the run: every job still waiting is run (it closes its
    // socket at once) and every thread has ended before this returns.
    void shutdown() override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
        ended_.wait(lock, [this] { return threads_ == 0; });
        while (!jobs_.empty()) {
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

private:
    // Called with the lock held; false when the system makes no thread.
    bool Start()
    {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0)
            return false;
        pthread_attr_setstacksize(&attributes, ThreadStack);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        bool started = pthread_create(&thread, &attributes, Run, this) == 0;
        pthread_attr_destroy(&attributes);
        threads_ += started;
        return started;
    }

    static void* Run(void* self)
    {
        static_cast<ConnectionThreads*>(self)->Work();
        return nullptr;
    }

    void Work()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (jobs_.empty()) {
                ++idle_;
                bool got = wake_.wait_for(lock, std::chrono::seconds(IdleThreadSeconds),
                                          [this] { return !jobs_.empty() || stopping_; });
                --idle_;
                if (!got || jobs_.empty())
                    break;
            }
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
        if (--threads_ == 0)
            ended_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable wake_, ended_;
    std::deque<std::function<void()>> jobs_;
    size_t threads_ = 0, idle_ = 0;
    bool stopping_ = false;
};

// The listening socket, a protected member of cpp-httplib's server.
struct ListeningSocket : httplib::Server {
    static socket_t Of(httplib::Server& server)
    {
        return (server.*(&ListeningSocket::svr_sock_)).load();
    }
};

}  // namespace

void WidenBacklog(httplib::Server& server)
{
    socket_t listening = ListeningSocket::Of(server);
    if (listening != INVALID_SOCKET)
        listen(listening, SOMAXCONN);  // on failure the backlog stays as it was
}

void LimitConnections(httplib::Server& server)
{
    // Each connection holds a descriptor: as many as the system lets us.
    rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    server.set_socket_options([](socket_t listening) {
        int yes = 1;
        setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_tcp_nodelay(true);
    server.new_task_queue = [] { return new ConnectionThreads; };
    server.set_payload_max_length(MaxPayload);
    server.set_keep_alive_timeout(KeepAliveSeconds);
    server.set_read_timeout(ReadSeconds, 0);
    server.set_write_timeout(WriteSeconds, 0);
    server.set_keep_alive_max_count(MaxRequestsAConnection);
}
