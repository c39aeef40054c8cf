#pragma once

#include "recorder/media/BitmapInfoHeader.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// Reads an AVI file's RIFF structure as it lies on disk, independently of FFmpeg's
// demuxer, so header fields and chunk layout can be checked byte for byte.
class RiffReader {
public:
    struct Chunk {
        std::string id;       // "RIFF", "LIST", "strh", "00dc", ...
        std::string listType; // "AVI ", "AVIX", "hdrl", "movi", ... for RIFF and LIST
        uint64_t dataOffset = 0;
        uint32_t size = 0;
        std::vector<Chunk> children;
    };

    // AVISTREAMHEADER as stored in "strh".
    struct StreamHeader {
        std::string fccType, fccHandler;
        uint32_t dwFlags, wPriorityLanguage, dwInitialFrames, dwScale, dwRate, dwStart, dwLength,
            dwSuggestedBufferSize, dwQuality, dwSampleSize;
        int16_t left, top, right, bottom;
    };

    explicit RiffReader(const std::string& path);

    bool Valid() const { return m_valid; }
    // Some chunk claims more bytes than the file holds.
    bool Truncated() const { return m_truncated; }
    // The top-level RIFF chunks: "AVI " first, then one "AVIX" per further gigabyte.
    const std::vector<Chunk>& Riffs() const { return m_riffs; }

    // Path of ids, lists by their type: {"hdrl", "strl", "strh"}; null when missing.
    const Chunk* Find(const std::vector<std::string>& path) const;
    StreamHeader ReadStreamHeader() const;
    BitmapInfoHeader ReadStreamFormat() const;
    uint32_t StreamFormatSize() const;
    uint32_t AviHeaderTotalFrames() const;
    // Sizes of the video chunks of every "movi" list, in file order: sample n's size.
    std::vector<uint32_t> VideoChunkSizes() const;
    std::vector<uint8_t> Read(const Chunk& chunk) const;

private:
    bool ParseChildren(Chunk& parent, uint64_t end);

    mutable std::ifstream m_file;
    std::vector<Chunk> m_riffs;
    bool m_valid = false;
    bool m_truncated = false;
};
