#include "advert/HttpClient.h"

#include "advert/HttpFileSink.h"
#include "advert/HttpTextSink.h"
#include "settings/Utf16.h"

#include <curl/curl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr long kStatusOk = 200;
constexpr long kStatusNotFound = 404;
constexpr long kStatusProxyAuthRequired = 407;
constexpr std::size_t kMaxErrorChars = 2024;

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlUrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// The request line carries the address's bytes as they are, so only printable
// ASCII is let through: a control byte or blank would break the request apart.
std::optional<std::string> PrintableAscii(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t unit : text) {
        if (unit <= 0x20 || unit >= 0x7F)
            return std::nullopt;
        bytes.push_back(static_cast<char>(unit));
    }
    return bytes;
}

void SetError(std::u16string& error, const std::string& message) {
    error = FromUtf8(message).substr(0, kMaxErrorChars);
}

// Host, port, path and query go in one by one so that the host is checked as a
// host name: a ":port" or a scheme left in it makes the address unusable.
CurlUrl MakeUrl(const CHttpClient::UrlParts& parts, long port, std::u16string& error) {
    const auto host = PrintableAscii(parts.host);
    const auto object = PrintableAscii(parts.object);
    CurlUrl url(curl_url());
    if (!host || !object || !url) {
        SetError(error, "The address is malformed");
        return nullptr;
    }
    const std::size_t queryStart = object->find('?');
    const std::string path = object->substr(0, queryStart);
    CURLUcode result = curl_url_set(url.get(), CURLUPART_SCHEME, "http", 0);
    if (!result)
        result = curl_url_set(url.get(), CURLUPART_HOST, host->c_str(), 0);
    if (!result)
        result = curl_url_set(url.get(), CURLUPART_PORT, std::to_string(port).c_str(), 0);
    if (!result)
        result = curl_url_set(url.get(), CURLUPART_PATH, path.c_str(), 0);
    if (!result && queryStart != std::string::npos)
        result = curl_url_set(url.get(), CURLUPART_QUERY, object->c_str() + queryStart + 1, 0);
    if (result) {
        SetError(error, curl_url_strerror(result));
        return nullptr;
    }
    return url;
}

struct BodyTarget {
    CURL* session;
    HttpBodySink* sink;
};

// Only the body of a 200 answer is kept; redirects, 404 pages and the like are
// read and dropped.
size_t OnBody(char* data, size_t, size_t size, void* userData) {
    auto* target = static_cast<BodyTarget*>(userData);
    long status = 0;
    curl_easy_getinfo(target->session, CURLINFO_RESPONSE_CODE, &status);
    if (status != kStatusOk)
        return size;
    return target->sink->Write(data, size) ? size : 0;
}

// Plain HTTP only, also after a redirect; no proxy, whatever the environment says.
void ConfigureSession(CURL* handle, CURLU* url, const std::string& agent,
                      const HttpTimeouts& timeouts) {
    curl_easy_setopt(handle, CURLOPT_CURLU, url);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeouts.connect.count()));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeouts.stall.count()));
}

void InitialiseCurlOnce() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised;
}

} // namespace

CHttpClient::CHttpClient(std::u16string agent, long port, HttpTimeouts timeouts)
    : m_strAgent(std::move(agent)), m_nPort(port), m_timeouts(timeouts) {
    InitialiseCurlOnce();
}

CHttpClient::UrlParts CHttpClient::SplitUrl(const std::u16string& address) {
    std::u16string rest = address;
    if (rest.find(u"http://") != std::u16string::npos)
        rest.erase(0, 7);
    const std::size_t slash = rest.find(u'/');
    if (slash == std::u16string::npos)
        return {rest, u"/"};
    return {rest.substr(0, slash), u"/" + rest.substr(slash + 1)};
}

std::u16string CHttpClient::GetText(const std::u16string& address, std::u16string& error) {
    HttpTextSink sink(kMaxTextBytes);
    const int status = OpenUrl(address, sink, error);
    if (status == kStatusOk)
        return sink.Text();
    if (status == kStatusNotFound)
        return u"Error: 404";
    return {};
}

bool CHttpClient::DownloadFile(const std::u16string& address, const std::u16string& localPath,
                               std::u16string& error) {
    HttpFileSink sink(std::filesystem::path(localPath), kMaxFileBytes);
    return OpenUrl(address, sink, error) == kStatusOk;
}

int CHttpClient::OpenUrl(const std::u16string& address, HttpBodySink& sink, std::u16string& error) {
    CurlUrl url = MakeUrl(SplitUrl(address), m_nPort, error);
    CurlEasy session(curl_easy_init());
    if (!url || !session) {
        if (url)
            SetError(error, "The HTTP session could not be created");
        return -1;
    }
    const std::string agent = ToUtf8(m_strAgent);
    char errorText[CURL_ERROR_SIZE] = {};
    BodyTarget target{session.get(), &sink};
    CURL* handle = session.get();
    ConfigureSession(handle, url.get(), agent, m_timeouts);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &target);

    CURLcode result = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (result == CURLE_OK && status == kStatusProxyAuthRequired) {
        curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, "");
        curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, "");
        result = curl_easy_perform(handle);
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    }
    if (result == CURLE_OK && status == kStatusOk && !sink.Finish())
        result = CURLE_WRITE_ERROR;
    if (result != CURLE_OK) {
        SetError(error, errorText[0] ? errorText : curl_easy_strerror(result));
        return -1;
    }
    return static_cast<int>(status);
}
