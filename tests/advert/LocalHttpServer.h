#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// How one request is answered.
struct CannedResponse {
    enum class Stall { None, BeforeHeaders, MidBody };

    int status = 200;
    std::string body;
    Stall stall = Stall::None;
    // MidBody sends this many bytes, then nothing more. The client judges a stall by
    // its speed averaged over a few seconds, so a one-byte lead keeps the tests quick.
    std::size_t bytesBeforeStall = 1;
};

// An HTTP server on 127.0.0.1 at a free port, run on its own threads for one test.
// Each request target (path and query) has a list of answers: the n-th request gets
// the n-th, the last one repeats; unknown targets get 404. A stalled answer stays
// stalled until ReleaseStalls() or the server's end.
class LocalHttpServer {
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    long Port() const { return m_port; }
    std::string Url(const std::string& target) const;

    void Serve(const std::string& target, std::vector<CannedResponse> answers);
    void Serve(const std::string& target, CannedResponse answer) {
        Serve(target, std::vector<CannedResponse>{std::move(answer)});
    }

    int RequestCount(const std::string& target) const;
    std::string LastUserAgent() const;
    void ReleaseStalls();

private:
    struct Route {
        std::vector<CannedResponse> answers;
        int requests = 0;
    };

    CannedResponse NextAnswer(const std::string& target, const std::string& userAgent);
    void WaitForRelease();

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    long m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_stallsReleased = false;
    std::map<std::string, Route> m_routes;
    std::map<std::string, int> m_unknownRequests;
    std::string m_lastUserAgent;
};
