#include "recorder/output/EncoderTable.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <array>
#include <thread>

namespace {

// MPEG-4 Visual and JPEG at quantiser 2, the finest step that still compresses.
void FixedQuantiser2(AVCodecContext& context) {
    context.flags |= AV_CODEC_FLAG_QSCALE;
    context.global_quality = 2 * FF_QP2LAMBDA;
}

// Up to full HD at 30 frames a second one processor encodes a frame in about
// a third of its period, and libavcodec's slice threads cost a fifth more
// processor time (bench/README.md): then one thread is enough. Xvid's own
// threads cost more too: a still picture encoded again every 0.3 s cost a
// still desk about a tenth more with two.
void Mpeg4Quantiser2(AVCodecContext& context) {
    FixedQuantiser2(context);
    constexpr int64_t kFullHd30 = int64_t(1920) * 1080 * 30;
    const int64_t pixelsPerSecond = int64_t(context.width) * context.height *
                                    context.framerate.num / std::max(context.framerate.den, 1);
    if (pixelsPerSecond <= kFullHd30)
        context.thread_count = 1;
}

// JPEG's own full-range YUV, so the encoder takes plain 4:2:0 frames.
void FullRangeQuantiser2(AVCodecContext& context) {
    FixedQuantiser2(context);
    context.color_range = AVCOL_RANGE_JPEG;
}

// Visually lossless for screen content. veryfast spends about 40 ms of processor
// time on a busy full-HD frame (bench/README.md). x264 holds back as few frames as
// it can: each is one more copy a still screen's change must be pushed out with
// (AviWriter), and one more frame a crash loses. So one frame of look-ahead, which
// its macroblock tree needs (longer ones made moving recordings no smaller), and
// slice threads, as each frame thread holds back one frame more.
void X264Crf18(AVCodecContext& context) {
    av_opt_set(context.priv_data, "preset", "veryfast", 0);
    av_opt_set(context.priv_data, "crf", "18", 0);
    av_opt_set(context.priv_data, "x264-params", "rc-lookahead=1:sync-lookahead=0:sliced-threads=1",
               0);
    // x264 places its key frames by scene cuts within its own longer spacing.
    context.gop_size = -1;
    // A slice per thread: more slices than this code worse and gain little at 30 fps.
    constexpr int kMostSlices = 4;
    context.thread_count = std::clamp(int(std::thread::hardware_concurrency()), 1, kMostSlices);
}

// Lossless encoders have no quality to choose.
void Lossless(AVCodecContext&) {}

// Only encoders whose AVI files GStreamer (good, bad, ugly and libav plug-ins) and
// VLC 3 both play, as Debian 12 ships them: Ut Video is left out, as neither shows
// its picture.
const std::array kEncoders = {
    EncoderEntry{"mpeg4", u"FFmpeg MPEG-4 Video Codec", MakeFourCC("FMP4"), AV_PIX_FMT_YUV420P,
                 false, Mpeg4Quantiser2},
    EncoderEntry{"libxvid", u"Xvid MPEG-4 Codec", MakeFourCC("XVID"), AV_PIX_FMT_YUV420P, true,
                 Mpeg4Quantiser2},
    EncoderEntry{"libx264", u"x264 H.264/AVC Codec", MakeFourCC("H264"), AV_PIX_FMT_YUV420P, true,
                 X264Crf18},
    EncoderEntry{"mjpeg", u"Motion JPEG Codec", MakeFourCC("MJPG"), AV_PIX_FMT_YUV420P, false,
                 FullRangeQuantiser2},
    EncoderEntry{"huffyuv", u"Huffyuv Lossless Codec", MakeFourCC("HFYU"), AV_PIX_FMT_YUV422P, true,
                 Lossless},
    EncoderEntry{"ffv1", u"FFV1 Lossless Codec", MakeFourCC("FFV1"), AV_PIX_FMT_YUV420P, false,
                 Lossless},
};

} // namespace

std::span<const EncoderEntry> EncoderTable() {
    return kEncoders;
}

const EncoderEntry* FindEncoderEntry(uint32_t fourcc) {
    auto found = std::ranges::find(kEncoders, fourcc, &EncoderEntry::fourcc);
    return found == kEncoders.end() ? nullptr : &*found;
}

ffmpeg::CodecContextPtr OpenEncoder(const EncoderEntry& entry, int width, int height,
                                    unsigned frameRate, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoderName);
    if (!codec || width <= 0 || height <= 0 || frameRate == 0)
        return {};
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return {};
    context->width = width;
    context->height = height;
    context->pix_fmt = entry.pixelFormat;
    context->time_base = AVRational{1, int(frameRate)};
    context->framerate = AVRational{int(frameRate), 1};
    // Without reordering every packet's timestamp is its frame's position.
    context->max_b_frames = 0;
    // A key frame a second rather than libavcodec's one in twelve: close enough for
    // seeking, and at quantiser 2 the key frames were most of a screen recording's
    // size (bench/README.md).
    context->gop_size = static_cast<int>(frameRate);
    // Slice or frame threads where the encoder has them (libxvid runs threads of
    // its own, sized by the same count; x264's set-up chooses its own count).
    context->thread_count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    context->thread_type = FF_THREAD_SLICE | FF_THREAD_FRAME;
    if (globalHeader)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    entry.setBestQuality(*context);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return {};
    return context;
}
