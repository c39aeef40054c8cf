#include "RiffReader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace {

uint32_t Le32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

bool IsList(const std::string& id) {
    return id == "RIFF" || id == "LIST";
}

const RiffReader::Chunk* FindIn(const std::vector<RiffReader::Chunk>& chunks,
                                std::vector<std::string>::const_iterator step,
                                std::vector<std::string>::const_iterator end) {
    for (const RiffReader::Chunk& chunk : chunks) {
        const std::string& name = IsList(chunk.id) ? chunk.listType : chunk.id;
        if (name != *step)
            continue;
        if (step + 1 == end)
            return &chunk;
        if (const RiffReader::Chunk* found = FindIn(chunk.children, step + 1, end))
            return found;
    }
    return nullptr;
}

} // namespace

RiffReader::RiffReader(const std::string& path) : m_file(path, std::ios::binary) {
    if (!m_file)
        return;
    uint64_t fileSize = std::filesystem::file_size(path);
    Chunk top;
    m_valid = ParseChildren(top, fileSize);
    m_riffs = std::move(top.children);
    m_valid =
        m_valid && !m_riffs.empty() && m_riffs[0].id == "RIFF" && m_riffs[0].listType == "AVI ";
}

bool RiffReader::ParseChildren(Chunk& parent, uint64_t end) {
    uint64_t offset = parent.dataOffset + (parent.listType.empty() ? 0 : 4);
    while (offset + 8 <= end) {
        uint8_t head[12] = {};
        m_file.seekg(std::streamoff(offset));
        if (!m_file.read(reinterpret_cast<char*>(head), 8))
            return false;
        Chunk chunk;
        chunk.id.assign(reinterpret_cast<char*>(head), 4);
        chunk.size = Le32(head + 4);
        chunk.dataOffset = offset + 8;
        // A recording cut short by a full disk ends inside its last chunks.
        const uint64_t chunkEnd = std::min<uint64_t>(chunk.dataOffset + chunk.size, end);
        m_truncated = m_truncated || chunkEnd < chunk.dataOffset + chunk.size;
        if (IsList(chunk.id)) {
            if (!m_file.read(reinterpret_cast<char*>(head + 8), 4))
                return false;
            chunk.listType.assign(reinterpret_cast<char*>(head + 8), 4);
            if (!ParseChildren(chunk, chunkEnd))
                return false;
        }
        offset = chunk.dataOffset + chunk.size + (chunk.size & 1);
        parent.children.push_back(std::move(chunk));
    }
    return true;
}

const RiffReader::Chunk* RiffReader::Find(const std::vector<std::string>& path) const {
    return path.empty() ? nullptr : FindIn(m_riffs, path.begin(), path.end());
}

std::vector<uint8_t> RiffReader::Read(const Chunk& chunk) const {
    std::vector<uint8_t> data(chunk.size);
    m_file.clear();
    m_file.seekg(std::streamoff(chunk.dataOffset));
    m_file.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
    return data;
}

RiffReader::StreamHeader RiffReader::ReadStreamHeader() const {
    StreamHeader header{};
    const Chunk* strh = Find({"AVI ", "hdrl", "strl", "strh"});
    if (!strh || strh->size < 56)
        return header;
    std::vector<uint8_t> data = Read(*strh);
    header.fccType.assign(reinterpret_cast<char*>(data.data()), 4);
    header.fccHandler.assign(reinterpret_cast<char*>(data.data() + 4), 4);
    uint32_t* fields[] = {&header.dwFlags,         &header.wPriorityLanguage,
                          &header.dwInitialFrames, &header.dwScale,
                          &header.dwRate,          &header.dwStart,
                          &header.dwLength,        &header.dwSuggestedBufferSize,
                          &header.dwQuality,       &header.dwSampleSize};
    for (size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = Le32(data.data() + 8 + 4 * i);
    std::memcpy(&header.left, data.data() + 48, 2);
    std::memcpy(&header.top, data.data() + 50, 2);
    std::memcpy(&header.right, data.data() + 52, 2);
    std::memcpy(&header.bottom, data.data() + 54, 2);
    return header;
}

BitmapInfoHeader RiffReader::ReadStreamFormat() const {
    BitmapInfoHeader format{};
    const Chunk* strf = Find({"AVI ", "hdrl", "strl", "strf"});
    if (strf && strf->size >= sizeof(format))
        std::memcpy(&format, Read(*strf).data(), sizeof(format));
    return format;
}

uint32_t RiffReader::StreamFormatSize() const {
    const Chunk* strf = Find({"AVI ", "hdrl", "strl", "strf"});
    return strf ? strf->size : 0;
}

uint32_t RiffReader::AviHeaderTotalFrames() const {
    const Chunk* avih = Find({"AVI ", "hdrl", "avih"});
    return avih && avih->size >= 20 ? Le32(Read(*avih).data() + 16) : 0;
}

std::vector<uint32_t> RiffReader::VideoChunkSizes() const {
    std::vector<uint32_t> sizes;
    for (const Chunk& riff : m_riffs) {
        for (const Chunk& list : riff.children) {
            if (list.listType != "movi")
                continue;
            for (const Chunk& chunk : list.children) {
                if (chunk.id == "00dc")
                    sizes.push_back(chunk.size);
            }
        }
    }
    return sizes;
}
