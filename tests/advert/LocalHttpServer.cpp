#include "LocalHttpServer.h"

#include <chrono>
#include <httplib.h>
#include <stdexcept>

LocalHttpServer::LocalHttpServer() : m_server(std::make_unique<httplib::Server>()) {
    m_server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        const CannedResponse answer =
            NextAnswer(request.target, request.get_header_value("User-Agent"));
        if (answer.stall == CannedResponse::Stall::BeforeHeaders)
            WaitForRelease();
        response.status = answer.status;
        if (answer.stall != CannedResponse::Stall::MidBody) {
            response.set_content(answer.body, "application/octet-stream");
            return;
        }
        response.set_content_provider(
            answer.body.size(), "application/octet-stream",
            [this, answer](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset == 0)
                    return sink.write(answer.body.data(), answer.bytesBeforeStall);
                WaitForRelease();
                return false;
            });
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("no free port on 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // Stopping before the accept loop runs would leave the loop waiting for ever.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LocalHttpServer::~LocalHttpServer() {
    ReleaseStalls();
    m_server->stop();
    m_thread.join();
}

std::string LocalHttpServer::Url(const std::string& target) const {
    return "http://127.0.0.1" + target;
}

void LocalHttpServer::Serve(const std::string& target, std::vector<CannedResponse> answers) {
    std::lock_guard lock(m_mutex);
    m_routes[target] = Route{std::move(answers), 0};
}

int LocalHttpServer::RequestCount(const std::string& target) const {
    std::lock_guard lock(m_mutex);
    const auto route = m_routes.find(target);
    if (route != m_routes.end())
        return route->second.requests;
    const auto unknown = m_unknownRequests.find(target);
    return unknown == m_unknownRequests.end() ? 0 : unknown->second;
}

std::string LocalHttpServer::LastUserAgent() const {
    std::lock_guard lock(m_mutex);
    return m_lastUserAgent;
}

void LocalHttpServer::ReleaseStalls() {
    {
        std::lock_guard lock(m_mutex);
        m_stallsReleased = true;
    }
    m_released.notify_all();
}

CannedResponse LocalHttpServer::NextAnswer(const std::string& target,
                                           const std::string& userAgent) {
    std::lock_guard lock(m_mutex);
    m_lastUserAgent = userAgent;
    const auto route = m_routes.find(target);
    if (route == m_routes.end()) {
        ++m_unknownRequests[target];
        return CannedResponse{404, "not here"};
    }
    Route& known = route->second;
    const std::size_t index = std::min<std::size_t>(known.requests, known.answers.size() - 1);
    ++known.requests;
    return known.answers[index];
}

void LocalHttpServer::WaitForRelease() {
    std::unique_lock lock(m_mutex);
    m_released.wait(lock, [this] { return m_stallsReleased; });
}
