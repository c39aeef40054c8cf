#pragma once

#include <cstddef>

// Where the body of a successful (status 200) response goes while it arrives.
class HttpBodySink {
public:
    virtual ~HttpBodySink() = default;

    // Takes the next piece of the body; false stops the fetch as failed.
    virtual bool Write(const char* data, std::size_t size) = 0;
    // The whole body has arrived; false turns the fetch into a failure.
    virtual bool Finish() = 0;
};
