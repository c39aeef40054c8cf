#include "recorder/output/RemuxedCopy.h"

#include "recorder/media/FfmpegPtr.h"
#include "recorder/output/FileSync.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

ffmpeg::InputContextPtr OpenInput(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return {};
    ffmpeg::InputContextPtr input(context);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return {};
    return input;
}

int VideoStreamOf(AVFormatContext& input) {
    return av_find_best_stream(&input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
}

// The recording's picture and its sound, if it has any: each input stream's
// place in the output, -1 for a stream left out.
std::vector<int> CopiedStreams(AVFormatContext& input) {
    std::vector<int> places(input.nb_streams, -1);
    const int video = VideoStreamOf(input);
    const int sound = av_find_best_stream(&input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (video < 0)
        return {};
    places[size_t(video)] = 0;
    if (sound >= 0)
        places[size_t(sound)] = 1;
    return places;
}

bool AddStream(AVFormatContext& output, const char* muxerName, const AVStream& source) {
    AVStream* stream = avformat_new_stream(&output, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, source.codecpar) < 0)
        return false;
    // The AVI handler is kept in AVI files; other muxers pick their own tag.
    if (std::string_view(muxerName) != "avi")
        stream->codecpar->codec_tag = 0;
    stream->time_base = source.time_base;
    stream->avg_frame_rate = source.avg_frame_rate;
    stream->r_frame_rate = source.r_frame_rate;
    return true;
}

ffmpeg::FileMuxerPtr CreateOutput(const std::string& path, const char* muxerName,
                                  AVFormatContext& input, const std::vector<int>& places) {
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, muxerName, path.c_str()) < 0)
        return {};
    ffmpeg::FileMuxerPtr output(context);
    for (int place = 0; place < 2; ++place) {
        const auto source = std::find(places.begin(), places.end(), place);
        if (source != places.end() &&
            !AddStream(*output, muxerName, *input.streams[source - places.begin()]))
            return {};
    }
    if (avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return {};
    return output;
}

bool WriteHeader(AVFormatContext& output, const char* movflags) {
    AVDictionary* options = nullptr;
    if (movflags)
        av_dict_set(&options, "movflags", movflags, 0);
    const int result = avformat_write_header(&output, &options);
    ffmpeg::DictionaryPtr unused(options);
    return result >= 0;
}

// Asks progress now and then how far the reading of input has come; false when it
// gives up.
class ReadProgress {
public:
    ReadProgress(AVFormatContext& input, const StepProgress& progress)
        : m_input(input), m_progress(progress), m_size(input.pb ? avio_size(input.pb) : -1) {}

    bool GoOn() {
        if (m_gaveUp || !m_progress || ++m_packets % kPacketsBetweenAsks != 0)
            return !m_gaveUp;
        const int64_t at = avio_tell(m_input.pb);
        m_gaveUp =
            !m_progress(m_size > 0 ? std::clamp(double(at) / double(m_size), 0.0, 1.0) : 0.0);
        return !m_gaveUp;
    }
    bool GaveUp() const { return m_gaveUp; }

private:
    static constexpr int kPacketsBetweenAsks = 64;
    AVFormatContext& m_input;
    const StepProgress& m_progress;
    int64_t m_size;
    int m_packets = 0;
    bool m_gaveUp = false;
};

// Packets go out in the order the recording holds them, which keeps its interleaving.
// The repeats after the last picture are one empty packet at the last of them: the
// muxer fills the periods before it.
bool CopyPackets(AVFormatContext& input, const std::vector<int>& places, AVFormatContext& output,
                 int64_t repeats, const StepProgress& progress) {
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return false;
    ReadProgress reading(input, progress);
    bool written = true;
    int64_t videoEnd = -1; // the last video packet's time, in its own time base
    while (written && reading.GoOn() && av_read_frame(&input, packet.get()) >= 0) {
        const int source = packet->stream_index;
        const int place = places[size_t(source)];
        if (place >= 0 && !(packet->flags & AV_PKT_FLAG_CORRUPT)) {
            packet->stream_index = place;
            packet->pos = -1;
            av_packet_rescale_ts(packet.get(), input.streams[source]->time_base,
                                 output.streams[place]->time_base);
            if (place == 0)
                videoEnd = std::max(videoEnd, packet->dts);
            written = av_write_frame(&output, packet.get()) >= 0;
        }
        av_packet_unref(packet.get());
    }
    if (reading.GaveUp())
        return false;
    if (written && repeats > 0 && videoEnd >= 0) {
        packet->stream_index = 0;
        packet->pts = packet->dts = videoEnd + repeats;
        written = av_write_frame(&output, packet.get()) >= 0;
    }
    if (!written || av_write_trailer(&output) < 0)
        return false;
    avio_flush(output.pb);
    return output.pb->error == 0;
}

bool Copy(const std::string& from, const std::string& to, const char* muxerName,
          const char* movflags, int64_t repeats, const StepProgress& progress) {
    ffmpeg::InputContextPtr input = OpenInput(from);
    if (!input)
        return false;
    const std::vector<int> places = CopiedStreams(*input);
    if (places.empty())
        return false;
    ffmpeg::FileMuxerPtr output = CreateOutput(to, muxerName, *input, places);
    return output && WriteHeader(*output, movflags) &&
           CopyPackets(*input, places, *output, repeats, progress);
}

// Sends one packet, or the end of the stream for nullptr, and takes every frame
// that comes out; false on a decoding error.
bool DecodePacket(AVCodecContext& decoder, const AVPacket* packet, AVFrame& frame, int& frames) {
    if (avcodec_send_packet(&decoder, packet) < 0)
        return false;
    for (;;) {
        const int result = avcodec_receive_frame(&decoder, &frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0 || frame.decode_error_flags != 0)
            return false;
        ++frames;
    }
}

} // namespace

bool RemuxedCopy::Write(const std::string& from, const std::string& to, const char* muxerName,
                        const char* movflags, int64_t repeats, const StepProgress& progress) {
    if (Copy(from, to, muxerName, movflags, repeats, progress))
        return true;
    std::remove(to.c_str());
    return false;
}

bool RemuxedCopy::DecodesCompletely(const std::string& path, const StepProgress& progress) {
    ffmpeg::InputContextPtr input = OpenInput(path);
    if (!input)
        return false;
    const int index = VideoStreamOf(*input);
    if (index < 0)
        return false;
    const AVCodec* codec = avcodec_find_decoder(input->streams[index]->codecpar->codec_id);
    ffmpeg::CodecContextPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    ffmpeg::PacketPtr packet(av_packet_alloc());
    ffmpeg::FramePtr frame(av_frame_alloc());
    if (!decoder || !packet || !frame ||
        avcodec_parameters_to_context(decoder.get(), input->streams[index]->codecpar) < 0)
        return false;
    // Damage must show as an error rather than be hidden by concealment.
    decoder->err_recognition = AV_EF_EXPLODE;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return false;
    int frames = 0;
    bool clean = true;
    ReadProgress reading(*input, progress);
    while (clean && reading.GoOn() && av_read_frame(input.get(), packet.get()) >= 0) {
        // Empty packets only hold a place on the time line.
        if (packet->stream_index == index && packet->size > 0)
            clean = DecodePacket(*decoder, packet.get(), *frame, frames);
        av_packet_unref(packet.get());
    }
    return clean && !reading.GaveUp() && DecodePacket(*decoder, nullptr, *frame, frames) &&
           frames > 0;
}

bool RemuxedCopy::ReplaceDurably(const std::string& replacement, const std::string& target) {
    return SyncFile(replacement) && std::rename(replacement.c_str(), target.c_str()) == 0 &&
           SyncFolderOf(target);
}

std::string RemuxedCopy::NewFileBeside(const std::string& path) {
    struct stat original {};
    if (stat(path.c_str(), &original) != 0)
        return {};
    std::string name = path + ".part-XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    fchmod(fd, original.st_mode & 07777);
    close(fd);
    return name;
}
