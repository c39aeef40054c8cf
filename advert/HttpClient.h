#pragma once

#include <chrono>
#include <cstddef>
#include <string>

class HttpBodySink;

// How long a fetch may wait before it gives up, so that a dead or stalled server
// never holds the advertisement worker for ever.
struct HttpTimeouts {
    std::chrono::seconds connect{60};
    std::chrono::seconds stall{30}; // longest stretch without a byte arriving
};

// A small HTTP client for the advertisement: GET over plain HTTP, one fresh
// connection per fetch, failures reported through results and an error text, never
// by exception. Text bodies are taken one character per byte.
class CHttpClient {
public:
    // The pieces of an address as the client reads it. No port is parsed out: a
    // ":port" after the host stays in the host name.
    struct UrlParts {
        std::u16string host;
        std::u16string object; // path and query, always starting with '/'
    };

    static constexpr std::size_t kMaxTextBytes = 64 * 1024;
    static constexpr std::size_t kMaxFileBytes = 8 * 1024 * 1024;

    // Every connection goes to port; only tests pick another than 80.
    explicit CHttpClient(std::u16string agent, long port = 80, HttpTimeouts timeouts = {});

    // The body without its carriage returns and line feeds on status 200,
    // "Error: 404" on status 404, empty text otherwise or when the fetch fails.
    std::u16string GetText(const std::u16string& address, std::u16string& error);

    // Stores the body at localPath on status 200 and returns true. The file appears
    // there only once the whole body has arrived, so a broken download leaves no
    // file behind; an existing file is replaced.
    bool DownloadFile(const std::u16string& address, const std::u16string& localPath,
                      std::u16string& error);

    static UrlParts SplitUrl(const std::u16string& address);

private:
    // Runs the GET (and its one retry on status 407) and feeds a 200 body to sink.
    // Returns the status, 0 when none could be read, -1 when the fetch failed.
    int OpenUrl(const std::u16string& address, HttpBodySink& sink, std::u16string& error);

    std::u16string m_strAgent;
    long m_nPort;
    HttpTimeouts m_timeouts;
};
