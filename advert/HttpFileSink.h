#pragma once

#include "advert/HttpBodySink.h"

#include <cstdio>
#include <filesystem>
#include <memory>

// Writes a body to a hidden temporary file beside its destination and moves it into
// place only when the whole body has arrived, so that an interrupted download never
// leaves a truncated file under the real name. A body longer than its limit fails.
class HttpFileSink : public HttpBodySink {
public:
    HttpFileSink(std::filesystem::path destination, std::size_t maxBytes);
    ~HttpFileSink() override;
    HttpFileSink(const HttpFileSink&) = delete;
    HttpFileSink& operator=(const HttpFileSink&) = delete;

    bool Write(const char* data, std::size_t size) override;
    bool Finish() override;

private:
    bool OpenTemporary();
    void DiscardTemporary();

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::filesystem::path m_destination;
    std::filesystem::path m_temporary;
    std::unique_ptr<std::FILE, FileCloser> m_file;
    std::size_t m_maxBytes;
    std::size_t m_written = 0;
};
