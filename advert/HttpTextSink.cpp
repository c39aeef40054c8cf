#include "advert/HttpTextSink.h"

bool HttpTextSink::Write(const char* data, std::size_t size) {
    m_received += size;
    if (m_received > m_maxBytes)
        return false;
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if (byte != '\r' && byte != '\n')
            m_text.push_back(static_cast<char16_t>(byte));
    }
    return true;
}
