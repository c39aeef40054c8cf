#include "recorder/output/Mp4Completion.h"

#include "recorder/output/RemuxedCopy.h"

#include <cstdio>

Mp4Completion::Mp4Completion(std::string path, RecordingMarker marker)
    : m_path(std::move(path)), m_marker(std::move(marker)) {}

void Mp4Completion::Run() {
    const std::string rewritten = RemuxedCopy::NewFileBeside(m_path);
    if (!rewritten.empty() && !(RemuxedCopy::Write(m_path, rewritten, "mp4", "+faststart") &&
                                RemuxedCopy::ReplaceDurably(rewritten, m_path)))
        std::remove(rewritten.c_str());
    m_marker.Remove();
}
