// Time per CAviWriter::WriteFrame for every encoder of the codec list with 32-bit
// frames of desktop-like content that changes every frame (a moving window of fine
// detail over a gradient), and the processor time the writer's thread and the
// encoder's own threads spend per frame; first the conversion to YUV 4:2:0 alone,
// which every WriteFrame includes. Last, per encoder, the processor time per
// second of a still screen: one frame, then ten seconds of repeats at 30 frames a
// second, the file completed. No X server needed:
//   bench/writer_bench [frames per encoder] [WIDTHxHEIGHT]   (default 90, 1920x1080)
#include "recorder/output/AviWriter.h"
#include "recorder/output/Bgr0ToYuv420.h"
#include "recorder/output/EncoderTable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

int kWidth = 1920;
int kHeight = 1080;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A gradient desktop with a 640x400 "window" of text-like detail that moves by a
// few pixels every frame, the way a scrolled or dragged window changes a screen.
class DesktopScene {
public:
    DesktopScene() : m_pixels(size_t(kWidth) * kHeight * 4), m_detail(640 * 400) {
        uint32_t seed = 12345;
        for (uint8_t& value : m_detail) {
            seed = seed * 1664525u + 1013904223u;
            value = (seed >> 28) < 3 ? 20 : 235; // dark strokes on white
        }
    }

    const uint8_t* Frame(int index) {
        for (int row = 0; row < kHeight; ++row) {
            uint8_t* pixel = &m_pixels[size_t(row) * kWidth * 4];
            for (int x = 0; x < kWidth; ++x, pixel += 4) {
                pixel[0] = uint8_t(80 + row / 8);
                pixel[1] = uint8_t(60 + x / 16);
                pixel[2] = 40;
                pixel[3] = 0;
            }
        }
        const int left = 200 + (index * 7) % 1000, bottom = 150 + (index * 3) % 500;
        for (int row = 0; row < 400; ++row) {
            uint8_t* pixel = &m_pixels[(size_t(bottom + row) * kWidth + left) * 4];
            for (int x = 0; x < 640; ++x, pixel += 4)
                pixel[0] = pixel[1] = pixel[2] = m_detail[size_t(row) * 640 + x];
        }
        return m_pixels.data();
    }

private:
    std::vector<uint8_t> m_pixels;
    std::vector<uint8_t> m_detail;
};

// Processor seconds per second of a screen that does not change after its first
// frame, completing the file included.
double StillSecondCost(const std::filesystem::path& file, const AviCompressOptions& options,
                       const BitmapInfoHeader& format, const uint8_t* pixels) {
    constexpr int kStillSlots = 10 * 30;
    CAviWriter writer;
    if (!writer.Open(file.u16string(), 30, options, &format))
        return 0;
    writer.WriteFrame(0, pixels, format.biSizeImage);
    const double before = ProcessCpuSeconds();
    for (int slot = 1; slot < kStillSlots; ++slot)
        writer.WriteRepeat(slot);
    writer.Release();
    return (ProcessCpuSeconds() - before) * 30 / kStillSlots;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// The hot conversion alone, into planes sized as the encoders get them.
void ReportConversion(DesktopScene& scene, int frames) {
    std::vector<uint8_t> luma(size_t(kWidth) * kHeight), u(luma.size() / 4), v(luma.size() / 4);
    uint8_t* const planes[3] = {luma.data(), u.data(), v.data()};
    const int lineSizes[3] = {kWidth, kWidth / 2, kWidth / 2};
    std::vector<double> milliseconds;
    for (int index = 0; index < frames; ++index) {
        const uint8_t* pixels = scene.Frame(index);
        const auto start = std::chrono::steady_clock::now();
        ConvertBgr0ToYuv420(pixels, ptrdiff_t(kWidth) * 4, kWidth, kHeight, planes, lineSizes);
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::printf("%-9s %10.2f\n", "to YUV", Median(milliseconds));
}

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 90;
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &kWidth, &kHeight) != 2) {
        std::fprintf(stderr, "writer_bench: the size is WIDTHxHEIGHT, e.g. 3840x2160\n");
        return 2;
    }
    BitmapInfoHeader format;
    format.biWidth = kWidth;
    format.biHeight = kHeight;
    format.biBitCount = 32;
    format.biSizeImage = kWidth * kHeight * 4;
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "tesmara-writer-bench.avi";
    DesktopScene scene;
    std::printf("%dx%d\n%-9s %10s %10s %12s %10s %14s\n", kWidth, kHeight, "encoder", "median ms",
                "mean ms", "CPU ms/frame", "MB/frame", "still CPU s/s");
    ReportConversion(scene, frames);
    for (const EncoderEntry& entry : EncoderTable()) {
        AviCompressOptions options;
        options.fccHandler = entry.fourcc;
        options.dwQuality = 95000;
        CAviWriter writer;
        if (!writer.Open(file.u16string(), 30, options, &format))
            continue;
        std::vector<double> milliseconds;
        const double cpuBefore = ProcessCpuSeconds();
        for (int index = 0; index < frames; ++index) {
            const uint8_t* pixels = scene.Frame(index);
            const auto start = std::chrono::steady_clock::now();
            writer.WriteFrame(index, pixels, format.biSizeImage);
            milliseconds.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        writer.Release();
        // The scene's own drawing is part of the process time; take it out.
        const double drawStart = ProcessCpuSeconds();
        for (int index = 0; index < frames; ++index)
            scene.Frame(index);
        const double drawing = ProcessCpuSeconds() - drawStart;
        const double cpu = (drawStart - cpuBefore - drawing) * 1000 / frames;
        double mean = 0;
        for (double value : milliseconds)
            mean += value / frames;
        const double megabytes = double(std::filesystem::file_size(file)) / frames / 1e6;
        const double still = StillSecondCost(file, options, format, scene.Frame(0));
        std::printf("%-9s %10.2f %10.2f %12.2f %10.3f %14.4f\n", entry.encoderName,
                    Median(milliseconds), mean, cpu, megabytes, still);
    }
    std::filesystem::remove(file);
}
