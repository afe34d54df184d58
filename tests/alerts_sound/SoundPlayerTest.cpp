#include "SoundPlayer.h"

#include "ServerFixture.h"

#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <vector>

using namespace vorlund;

namespace {

// A tenth of a second of 8 kHz mono 16-bit silence.
void WriteWave(const std::filesystem::path &file)
{
    const uint32_t samples = 800, dataBytes = samples * 2;
    std::vector<uint8_t> b;
    auto text = [&](const char *s) { b.insert(b.end(), s, s + 4); };
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    auto u16 = [&](uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    };
    text("RIFF");
    u32(36 + dataBytes);
    text("WAVE");
    text("fmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    text("data");
    u32(dataBytes);
    b.resize(b.size() + dataBytes, 0);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

TEST(SoundPlayer, PlaysWithoutWaitingAndIsSilentWithoutTheFile)
{
    test::TempFolder folder;
    SoundPlayer player(folder.path, "fakesink sync=true");

    for (const char *name : { "snap.wav", "../snap.wav", "", ".." }) {
        player.PlaySound(name);
        EXPECT_FALSE(player.IsPlaying()) << "nothing to play: " << name;
    }

    WriteWave(folder.path / "snap.wav");
    player.PlaySound("snap.wav");
    EXPECT_TRUE(player.IsPlaying()) << "returns at once, the sound still playing";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !player.IsPlaying(); }, 10000))
        << "the end of the sound is seen from the event loop";

    // Again, and replaced while it plays.
    player.PlaySound("snap.wav");
    player.PlaySound("snap.wav");
    EXPECT_TRUE(player.IsPlaying());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !player.IsPlaying(); }, 10000));

    // A file that is no sound ends the attempt quietly.
    std::ofstream(folder.path / "bad.wav") << "not a sound";
    player.PlaySound("bad.wav");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !player.IsPlaying(); }, 10000));
}

} // namespace
