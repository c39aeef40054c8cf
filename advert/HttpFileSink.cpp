#include "advert/HttpFileSink.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

HttpFileSink::HttpFileSink(std::filesystem::path destination, std::size_t maxBytes)
    : m_destination(std::move(destination)), m_maxBytes(maxBytes) {}

HttpFileSink::~HttpFileSink() {
    DiscardTemporary();
}

bool HttpFileSink::Write(const char* data, std::size_t size) {
    m_written += size;
    if (m_written > m_maxBytes)
        return false;
    if (!m_file && !OpenTemporary())
        return false;
    return std::fwrite(data, 1, size, m_file.get()) == size;
}

bool HttpFileSink::Finish() {
    if (!m_file && !OpenTemporary())
        return false;
    const bool flushed = std::fflush(m_file.get()) == 0;
    m_file.reset();
    std::error_code error;
    if (flushed)
        std::filesystem::rename(m_temporary, m_destination, error);
    if (!flushed || error) {
        DiscardTemporary();
        return false;
    }
    m_temporary.clear();
    return true;
}

// The leading dot keeps the partial file apart from every name the cache accepts.
bool HttpFileSink::OpenTemporary() {
    std::string pattern =
        (m_destination.parent_path() / ("." + m_destination.filename().string() + ".XXXXXX"))
            .string();
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0)
        return false;
    m_temporary = pattern;
    m_file.reset(fdopen(descriptor, "wb"));
    if (!m_file) {
        close(descriptor);
        DiscardTemporary();
        return false;
    }
    return true;
}

void HttpFileSink::DiscardTemporary() {
    m_file.reset();
    if (m_temporary.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove(m_temporary, ignored);
    m_temporary.clear();
}
