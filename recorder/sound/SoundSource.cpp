#include "recorder/sound/SoundSource.h"

#include "recorder/media/FfmpegPtr.h"
#include "recorder/sound/SoundPlacement.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using Clock = SoundSource::Clock;
constexpr int kChannels = 2;
constexpr auto kRetryInterval = std::chrono::milliseconds(500);
constexpr auto kStopPatience = std::chrono::seconds(1);
// A reader that is not read from keeps no more than this.
constexpr int64_t kMostKeptSamples = 10 * SoundSource::kSampleRate;
// About 20 ms of 16-bit stereo, so that samples arrive in small steps.
constexpr const char* kFragmentBytes = "3840";

const AVInputFormat* PulseInput() {
    static const AVInputFormat* const format = [] {
        avdevice_register_all();
        return av_find_input_format("pulse");
    }();
    return format;
}

// PulseAudio's "@DEFAULT_MONITOR@" means nothing to PipeWire's pulse server, but
// both list their outputs with the default one marked, and name its monitor alike.
// Empty when no server answers.
std::string DeviceName(SoundSource::Device device, bool& serverAnswers) {
    PulseInput(); // registers libavdevice's formats, which av_guess_format needs too
    AVDeviceInfoList* list = nullptr;
    std::string name;
    if (device == SoundSource::Device::Microphone) {
        serverAnswers = avdevice_list_input_sources(PulseInput(), nullptr, nullptr, &list) >= 0;
        name = "default";
    } else {
        const AVOutputFormat* output = av_guess_format("pulse", nullptr, nullptr);
        serverAnswers = output && avdevice_list_output_sinks(output, nullptr, nullptr, &list) >= 0;
        if (serverAnswers && list->default_device >= 0)
            name = std::string(list->devices[list->default_device]->device_name) + ".monitor";
    }
    avdevice_free_list_devices(&list);
    return serverAnswers ? name : std::string();
}

ffmpeg::InputContextPtr OpenDevice(SoundSource::Device device, SoundProblem& problem) {
    bool serverAnswers = false;
    const std::string name = DeviceName(device, serverAnswers);
    problem = !serverAnswers ? SoundProblem::NoServer : SoundProblem::NoDevice;
    if (name.empty())
        return {};
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", SoundSource::kSampleRate, 0);
    av_dict_set_int(&options, "channels", kChannels, 0);
    av_dict_set(&options, "fragment_size", kFragmentBytes, 0);
    av_dict_set(&options, "name", "Tesmara Screen Recorder", 0);
    av_dict_set(&options, "stream_name",
                device == SoundSource::Device::Microphone ? "Microphone" : "Desktop sound", 0);
    AVFormatContext* context = nullptr;
    const int result = avformat_open_input(&context, name.c_str(), PulseInput(), &options);
    ffmpeg::DictionaryPtr unused(options);
    if (result < 0) {
        if (result == AVERROR(EACCES) || result == AVERROR(EPERM))
            problem = SoundProblem::Refused;
        return {};
    }
    ffmpeg::InputContextPtr input(context);
    const AVCodecParameters* format =
        input->nb_streams == 1 ? input->streams[0]->codecpar : nullptr;
    if (!format || format->codec_id != AV_CODEC_ID_PCM_S16LE ||
        format->sample_rate != SoundSource::kSampleRate ||
        format->ch_layout.nb_channels != kChannels)
        return {};
    problem = SoundProblem::NoProblem;
    return input;
}

// When a packet's first sample was taken by its stamp: wall-clock microseconds,
// carried over to the monotonic clock the time line is kept on.
Clock::time_point StampedTime(const AVPacket& packet, AVRational timeBase) {
    const int64_t wallNow = av_gettime();
    const Clock::time_point now = Clock::now();
    const int64_t stamp = av_rescale_q(packet.pts, timeBase, AV_TIME_BASE_Q);
    return now - std::chrono::microseconds(wallNow - stamp);
}

// A pause: from its beginning to its end (the clock's end while it lasts).
struct Cut {
    Clock::time_point from;
    Clock::time_point until = Clock::time_point::max();
};

// Where a sample taken at `taken` lies on the time line, which leaves out every
// cut before it; nothing when it was taken during a cut.
std::optional<int64_t> TimeLineSample(Clock::time_point taken, Clock::time_point start,
                                      const std::vector<Cut>& cuts) {
    Clock::duration leftOut{};
    for (const Cut& cut : cuts) {
        if (taken >= cut.from && taken < cut.until)
            return std::nullopt;
        if (taken >= cut.until)
            leftOut += cut.until - cut.from;
    }
    const auto sinceStart =
        std::chrono::duration_cast<std::chrono::microseconds>(taken - start - leftOut);
    return av_rescale(sinceStart.count(), SoundSource::kSampleRate, AV_TIME_BASE);
}

} // namespace

// Kept alive by the reader thread as well: a reader stuck in a hung server is
// left behind at Stop and ends on its own.
struct SoundSource::Shared {
    explicit Shared(Device device) : device(device) {}

    const Device device;
    ffmpeg::InputContextPtr input; // the reader's once started
    Clock::time_point timeLineStart;
    std::mutex mutex;
    std::vector<Cut> cuts;
    std::condition_variable changed;
    bool stopping = false;
    bool finished = false;
    bool interrupted = false;
    std::deque<SoundBlock> blocks;
    int64_t deliveredEnd = 0;

    void ReadLoop();
    bool Pause(std::chrono::milliseconds interval);
    void Keep(SoundBlock block);
    std::optional<int64_t> PlaceOnTimeLine(Clock::time_point taken);
};

// A packet taken during a pause is dropped whole, and the count goes on with the
// next one kept: the cut lies within a packet (20 ms) of the picture's.
std::optional<int64_t> SoundSource::Shared::PlaceOnTimeLine(Clock::time_point taken) {
    std::lock_guard lock(mutex);
    return TimeLineSample(taken, timeLineStart, cuts);
}

void SoundSource::Shared::ReadLoop() {
    ffmpeg::PacketPtr packet(av_packet_alloc());
    SoundPlacement placement;
    while (packet) {
        {
            std::lock_guard lock(mutex);
            if (stopping)
                break;
        }
        if (!input) {
            SoundProblem problem = SoundProblem::NoProblem;
            if (!Pause(kRetryInterval) || !(input = OpenDevice(device, problem)))
                continue;
            placement.Restart();
        }
        if (av_read_frame(input.get(), packet.get()) < 0) {
            input.reset();
            std::lock_guard lock(mutex);
            interrupted = true;
            continue;
        }
        const std::optional<int64_t> stamped =
            PlaceOnTimeLine(StampedTime(*packet, input->streams[0]->time_base));
        if (stamped)
            Keep(placement.Place(reinterpret_cast<const int16_t*>(packet->data),
                                 packet->size / int(sizeof(int16_t) * kChannels), *stamped));
        av_packet_unref(packet.get());
    }
    input.reset();
    std::lock_guard lock(mutex);
    finished = true;
    changed.notify_all();
}

// False when the stop came meanwhile.
bool SoundSource::Shared::Pause(std::chrono::milliseconds interval) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, interval, [this] { return stopping; });
}

void SoundSource::Shared::Keep(SoundBlock block) {
    std::lock_guard lock(mutex);
    deliveredEnd = std::max(deliveredEnd, block.end());
    blocks.push_back(std::move(block));
    while (!blocks.empty() && deliveredEnd - blocks.front().end() > kMostKeptSamples)
        blocks.pop_front();
}

SoundSource::SoundSource(Device device) : m_shared(std::make_shared<Shared>(device)) {}

SoundSource::~SoundSource() {
    Stop();
}

SoundProblem SoundSource::Open() {
    SoundProblem problem = SoundProblem::NoProblem;
    m_shared->input = OpenDevice(m_shared->device, problem);
    return problem;
}

void SoundSource::Start(Clock::time_point timeLineStart) {
    if (m_reader.joinable() || m_shared->finished)
        return;
    m_shared->timeLineStart = timeLineStart;
    m_shared->cuts.clear();
    m_reader = std::thread([shared = m_shared] { shared->ReadLoop(); });
}

void SoundSource::Pause(Clock::time_point at) {
    std::lock_guard lock(m_shared->mutex);
    m_shared->cuts.push_back({at});
}

void SoundSource::Resume(Clock::time_point at) {
    std::lock_guard lock(m_shared->mutex);
    if (!m_shared->cuts.empty() && m_shared->cuts.back().until == Clock::time_point::max())
        m_shared->cuts.back().until = at;
}

void SoundSource::Stop() {
    if (!m_reader.joinable())
        return;
    std::unique_lock lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->changed.notify_all();
    const bool finished =
        m_shared->changed.wait_for(lock, kStopPatience, [this] { return m_shared->finished; });
    lock.unlock();
    if (finished)
        m_reader.join();
    else
        m_reader.detach();
}

void SoundSource::Read(int64_t from, int count, float* left, float* right) {
    std::fill(left, left + count, 0.0f);
    std::fill(right, right + count, 0.0f);
    const int64_t to = from + count;
    std::lock_guard lock(m_shared->mutex);
    for (const SoundBlock& block : m_shared->blocks) {
        const int64_t begin = std::max(from, block.start);
        const int64_t end = std::min(to, block.end());
        for (int64_t sample = begin; sample < end; ++sample) {
            left[sample - from] = block.left[sample - block.start];
            right[sample - from] = block.right[sample - block.start];
        }
    }
    auto& blocks = m_shared->blocks;
    while (!blocks.empty() && blocks.front().end() <= to)
        blocks.pop_front();
}

int64_t SoundSource::DeliveredEnd() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->deliveredEnd;
}

bool SoundSource::Interrupted() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->interrupted;
}
