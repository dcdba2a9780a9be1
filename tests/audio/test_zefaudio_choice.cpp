// Device names, playable formats, and what gain and balance do to samples.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <vector>

#include "zefaudio_backend.h"

using namespace zef::audio;

namespace {

DeviceChoice parsed(const std::string& text) {
    DeviceChoice choice;
    std::string why;
    EXPECT_TRUE(parseDeviceChoice(text, choice, why)) << text << ": " << why;
    return choice;
}

std::string rejection(const std::string& text) {
    DeviceChoice choice;
    std::string why;
    EXPECT_FALSE(parseDeviceChoice(text, choice, why)) << text;
    return why;
}

std::vector<int16_t> gained(std::vector<int16_t> s, uint32_t channels, uint32_t gain, uint8_t balance) {
    Format f{8000, channels, 16, AUDIO_ENCODING_LINEAR};
    applyGain(reinterpret_cast<uint8_t*>(s.data()), s.size() / channels, f, gain, balance);
    return s;
}

}  // namespace

TEST(ZefAudioSpec, NamesDevicesAndOptions) {
    EXPECT_EQ(parsed("alsa").identity(), "alsa:default");
    EXPECT_EQ(parsed("alsa:hw:0,0").arg, "hw:0,0");  // ",0" is part of the name
    EXPECT_EQ(parsed("null").identity(), "null");
    EXPECT_EQ(parsed("null:a,speed=50").identity(), parsed("null:a").identity());
    EXPECT_DOUBLE_EQ(parsed("null:a,speed=50").speed, 50.0);
    EXPECT_DOUBLE_EQ(parsed("null").speed, 1.0);

    DeviceChoice file = parsed("file:out.wav,speed=2.5");
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(file.arg, std::string(cwd) + "/out.wav");
    EXPECT_DOUBLE_EQ(file.speed, 2.5);
    EXPECT_EQ(parsed("file:/tmp/a,b.wav").arg, "/tmp/a,b.wav");
}

TEST(ZefAudioSpec, RejectsWhatCannotBeMeant) {
    EXPECT_NE(rejection("oss").find("unknown audio device"), std::string::npos);
    EXPECT_NE(rejection("file:").find("path"), std::string::npos);
    EXPECT_NE(rejection("alsa,speed=2").find("null and file"), std::string::npos);
    EXPECT_NE(rejection("null,volume=3").find("unknown option"), std::string::npos);
    for (const char* bad : {"null,speed=0", "null,speed=-1", "null,speed=abc", "null,speed=",
                            "null,speed=1001", "null,speed=nan", "null,speed=inf"})
        EXPECT_NE(rejection(bad).find("speed must be"), std::string::npos) << bad;
    EXPECT_EQ(parsed("null,speed=1000").speed, 1000.0);
}

TEST(ZefAudioSpec, PlaysLinearPcmOnly) {
    for (uint32_t bits : {8u, 16u, 24u, 32u})
        EXPECT_EQ(checkFormat({8000, 1, bits, AUDIO_ENCODING_LINEAR}), "") << bits;
    EXPECT_EQ(checkFormat({48000, 2, 8, AUDIO_ENCODING_LINEAR8}), "");
    EXPECT_NE(checkFormat({8000, 1, 16, AUDIO_ENCODING_LINEAR8}), "");
    EXPECT_NE(checkFormat({8000, 1, 8, 1}), "");  // mu-law
    EXPECT_NE(checkFormat({8000, 1, 12, AUDIO_ENCODING_LINEAR}), "");
    EXPECT_NE(checkFormat({8000, 0, 16, AUDIO_ENCODING_LINEAR}), "");
    EXPECT_NE(checkFormat({8000, 9, 16, AUDIO_ENCODING_LINEAR}), "");
    EXPECT_NE(checkFormat({999, 1, 16, AUDIO_ENCODING_LINEAR}), "");
    EXPECT_NE(checkFormat({0xffffffffu, 1, 16, AUDIO_ENCODING_LINEAR}), "");
}

TEST(ZefAudioGain, ScalesLinearlyWithoutClipping) {
    std::vector<int16_t> s = {32767, -32768, 1000, -1000, 1};
    EXPECT_EQ(gained(s, 1, 255, 32), s);
    EXPECT_EQ(gained(s, 1, 0, 32), std::vector<int16_t>(5, 0));
    // 127/255, truncated toward zero
    EXPECT_EQ(gained(s, 1, 127, 32), (std::vector<int16_t>{16319, -16319, 498, -498, 0}));
    // out-of-range settings behave as the nearest valid ones
    EXPECT_EQ(gained(s, 1, 999, 200), s);
}

TEST(ZefAudioGain, BalanceLowersOneSideOfStereo) {
    std::vector<int16_t> lr = {20000, -20000, -8000, 8000};
    EXPECT_EQ(gained(lr, 2, 255, 32), lr);
    EXPECT_EQ(gained(lr, 2, 255, 0), (std::vector<int16_t>{20000, 0, -8000, 0}));
    EXPECT_EQ(gained(lr, 2, 255, 64), (std::vector<int16_t>{0, -20000, 0, 8000}));
    EXPECT_EQ(gained(lr, 2, 255, 48), (std::vector<int16_t>{10000, -20000, -4000, 8000}));
    // mono ignores the balance
    EXPECT_EQ(gained({20000, -20000}, 1, 255, 0), (std::vector<int16_t>{20000, -20000}));
}

TEST(ZefAudioGain, HandlesEverySampleWidth) {
    Format u8{8000, 1, 8, AUDIO_ENCODING_LINEAR8};
    uint8_t unsignedBytes[] = {128, 255, 0};
    applyGain(unsignedBytes, 3, u8, 0, 32);
    EXPECT_EQ(std::vector<uint8_t>(unsignedBytes, unsignedBytes + 3), std::vector<uint8_t>(3, 128));

    Format s8{8000, 1, 8, AUDIO_ENCODING_LINEAR};
    uint8_t signedBytes[] = {0x80, 0x7f};  // -128, 127
    applyGain(signedBytes, 2, s8, 128, 32);
    EXPECT_EQ(int8_t(signedBytes[0]), -64);
    EXPECT_EQ(int8_t(signedBytes[1]), 63);

    Format s24{8000, 1, 24, AUDIO_ENCODING_LINEAR};
    uint8_t packed[] = {0x00, 0x00, 0x80, 0xff, 0xff, 0x7f};  // -8388608, 8388607
    applyGain(packed, 2, s24, 51, 32);                       // one fifth
    EXPECT_EQ(std::vector<uint8_t>(packed, packed + 6),
              (std::vector<uint8_t>{0x67, 0x66, 0xe6, 0x99, 0x99, 0x19}));

    Format s32{8000, 1, 32, AUDIO_ENCODING_LINEAR};
    int32_t wide[] = {INT32_MIN, INT32_MAX};
    applyGain(reinterpret_cast<uint8_t*>(wide), 2, s32, 254, 32);
    EXPECT_EQ(wide[0], int32_t(int64_t(INT32_MIN) * 254 / 255));
    EXPECT_EQ(wide[1], int32_t(int64_t(INT32_MAX) * 254 / 255));
}
