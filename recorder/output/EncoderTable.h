#pragma once

#include "recorder/media/FfmpegPtr.h"

#include <cstdint>
#include <span>
#include <string_view>

// The encoders of the linked libavcodec that write AVI files every common player
// reads, in the fixed order in which the codec catalogue walks them.
struct EncoderEntry {
    const char* encoderName;         // as libavcodec names it
    std::u16string_view description; // the text the codec list shows
    uint32_t fourcc;                 // handler stored in the AVI file
    AVPixelFormat pixelFormat;       // what the encoder is fed
    bool evenSize;                   // refuses odd widths or heights
    void (*setBestQuality)(AVCodecContext& context);

    // The frame size the encoder works at: an odd edge row or column is left out
    // where the encoder cannot take it.
    int EncodedWidth(int width) const { return evenSize ? width & ~1 : width; }
    int EncodedHeight(int height) const { return evenSize ? height & ~1 : height; }
};

constexpr uint32_t MakeFourCC(const char (&code)[5]) {
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
           uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
}

std::span<const EncoderEntry> EncoderTable();
const EncoderEntry* FindEncoderEntry(uint32_t fourcc);

// Opens the entry's encoder at its best quality for frames of the given size and
// rate (width and height already as EncodedWidth/EncodedHeight give them); empty
// when this libavcodec lacks the encoder or the encoder refuses the set-up.
// globalHeader: the stream's set-up goes to the container's header, not into the
// first packet (as MP4 and Matroska need it).
ffmpeg::CodecContextPtr OpenEncoder(const EncoderEntry& entry, int width, int height,
                                    unsigned frameRate, bool globalHeader = false);
