#include "recorder/output/CodecCatalogue.h"
#include "SyntheticFrame.h"
#include "recorder/output/AviWriter.h"
#include "recorder/output/CompressorMatching.h"
#include "recorder/output/EncoderTable.h"
#include "settings/RegEdit.h"
#include "settings/Utf16.h"
#include "tests/support/AviDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace {

constexpr uint32_t kVids = MakeFourCC("vids");

std::vector<InstalledCompressor> Walk(std::initializer_list<InstalledCompressor> compressors) {
    return compressors;
}

TEST(CompressorMatching, PreferredIsTheLastXvidOrDivXPrefix) {
    EXPECT_EQ(PreferredDescription(Walk({{u"Xvid MPEG-4 Codec", 1}, {u"DivX 6.9 Codec", 2}})),
              u"DivX 6.9 Codec");
    EXPECT_EQ(PreferredDescription(Walk({{u"DivX 6.9 Codec", 2}, {u"Xvid MPEG-4 Codec", 1}})),
              u"Xvid MPEG-4 Codec");
    // Only the first four characters count, and case matters.
    EXPECT_EQ(PreferredDescription(Walk(
                  {{u"XVID Codec", 1}, {u"ffdshow XviD", 2}, {u"divx", 3}, {u"Helix YUV", 4}})),
              u"");
    EXPECT_EQ(PreferredDescription({}), u"");
}

TEST(CompressorMatching, ExactTextFillsOptionsFromTheLastMatch) {
    AviCompressOptions options;
    options.dwKeyFrameEvery = 7;
    options.dwBytesPerSecond = 1000;
    options.dwFlags = 3;
    ResolveAmong(Walk({{u"Same", 1}, {u"Other", 2}, {u"Same", 3}, {u"same", 4}}), u"Same", options);
    EXPECT_EQ(options.fccType, kVids);
    EXPECT_EQ(options.fccHandler, 3u);
    EXPECT_EQ(options.dwQuality, 95000u);
    EXPECT_EQ(options.dwKeyFrameEvery, 0u);
    EXPECT_EQ(options.dwBytesPerSecond, 0u);
    EXPECT_EQ(options.dwFlags, 0u);
    EXPECT_EQ(options.dwInterleaveEvery, 0u);
}

TEST(CompressorMatching, NoMatchKeepsWhatTheOptionsHeld) {
    AviCompressOptions untouched;
    ResolveAmong(Walk({{u"Xvid MPEG-4 Codec", 1}}), u"Xvid", untouched);
    EXPECT_EQ(untouched.fccType, 0u);
    EXPECT_EQ(untouched.fccHandler, 0u);
    EXPECT_EQ(untouched.dwQuality, 0u);

    AviCompressOptions previous;
    ResolveAmong(Walk({{u"Xvid MPEG-4 Codec", 1}}), u"Xvid MPEG-4 Codec", previous);
    ResolveAmong(Walk({{u"Xvid MPEG-4 Codec", 1}}), u"xvid mpeg-4 codec", previous);
    EXPECT_EQ(previous.fccHandler, 1u);
    EXPECT_EQ(previous.dwQuality, 95000u);
}

TEST(CompressorMatching, EmptyTextTakesTheFirstFallbackWordDescription) {
    AviCompressOptions options;
    // "Xvid" is not "XviD": the first entry does not qualify, the second does, and a
    // later entry with the same description as the chosen one wins.
    ResolveAmong(Walk({{u"Xvid MPEG-4 Codec", 1},
                       {u"My XviD build", 2},
                       {u"Helix YUV", 3},
                       {u"ffdshow Video Codec", 4},
                       {u"My XviD build", 5}}),
                 u"", options);
    EXPECT_EQ(options.fccHandler, 5u);

    AviCompressOptions helix;
    ResolveAmong(Walk({{u"Cinepak", 1}, {u"Helix YUV", 3}, {u"ffdshow Video Codec", 4}}), u"",
                 helix);
    EXPECT_EQ(helix.fccHandler, 3u);

    // With no fallback word anywhere, the empty text matches only an empty description.
    AviCompressOptions none;
    ResolveAmong(Walk({{u"Cinepak", 1}}), u"", none);
    EXPECT_EQ(none.fccHandler, 0u);
    ResolveAmong(Walk({{u"Cinepak", 1}, {u"", 2}}), u"", none);
    EXPECT_EQ(none.fccHandler, 2u);
}

TEST(CodecCatalogue, ListsEachWorkingEncoderOnceWithXvidPreferred) {
    const CCodecCatalogue::Listing listing = CCodecCatalogue::Enumerate();
    ASSERT_FALSE(listing.descriptions.empty());
    const std::set<std::u16string> distinct(listing.descriptions.begin(),
                                            listing.descriptions.end());
    EXPECT_EQ(distinct.size(), listing.descriptions.size());
    for (const std::u16string& description : listing.descriptions)
        EXPECT_LE(description.size(), 127u);
    // This machine's libavcodec has libxvid.
    EXPECT_EQ(listing.preferred, u"Xvid MPEG-4 Codec");
    EXPECT_TRUE(distinct.count(u"FFmpeg MPEG-4 Video Codec"));
}

// What the list offers must record a full-HD screen that a player can read back.
TEST(CodecCatalogue, EveryListedEncoderWritesADecodableFullHdFile) {
    TempFolder folder;
    SyntheticFrame frame(1920, 1080, 32);
    for (const std::u16string& description : CCodecCatalogue::Enumerate().descriptions) {
        const std::string name = ToUtf8(description);
        AviCompressOptions options;
        CCodecCatalogue::Resolve(description, options);
        const std::string file = (folder / "full-hd.avi").string();
        CAviWriter writer;
        ASSERT_TRUE(writer.Open(FromUtf8(file), 30, options, frame.Format())) << name;
        for (int position : {0, 2}) {
            frame.Fill(ColourFor(position), ColourFor(position + 1));
            writer.WriteFrame(position, frame.Pixels(), frame.Size());
        }
        writer.Release();

        testsupport::AviDecoder decoder(file);
        ASSERT_TRUE(decoder.IsOpen()) << name;
        EXPECT_EQ(decoder.CodecTag(), options.fccHandler) << name;
        EXPECT_EQ(decoder.Width(), 1920) << name;
        EXPECT_EQ(decoder.Height(), 1080) << name;
        EXPECT_EQ(decoder.DecodedPositions(), (std::vector<int64_t>{0, 2})) << name;
        auto image = decoder.DecodeAt(2);
        ASSERT_TRUE(image) << name;
        const Rgb top = image->At(960, 270);
        EXPECT_TRUE(Near(top, ColourFor(2), 16)) << name << " " << ToString(top);
    }
}

TEST(CodecCatalogue, SwitchingOffTheXvidStatusWritesZero) {
    TempFolder folder;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string previous = saved ? saved : "";
    setenv("XDG_DATA_HOME", folder.Path().c_str(), 1);
    CRegEdit registry;
    registry.WriteDword(true, u"Software\\GNU\\XviD", u"display_status", 1);
    CCodecCatalogue::DisableXvidStatus();
    EXPECT_EQ(registry.ReadDword(true, u"software\\gnu\\xvid", u"display_status"), 0u);
    if (saved)
        setenv("XDG_DATA_HOME", previous.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

} // namespace
