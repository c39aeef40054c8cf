#pragma once

#include "advert/HttpBodySink.h"

#include <string>

// Collects a text body one character per byte, dropping carriage returns and line
// feeds wherever they stand. A body longer than its limit fails the fetch.
class HttpTextSink : public HttpBodySink {
public:
    explicit HttpTextSink(std::size_t maxBytes) : m_maxBytes(maxBytes) {}

    bool Write(const char* data, std::size_t size) override;
    bool Finish() override { return true; }

    const std::u16string& Text() const { return m_text; }

private:
    std::size_t m_maxBytes;
    std::size_t m_received = 0;
    std::u16string m_text;
};
