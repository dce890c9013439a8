// The alarm sounds the build puts beside the program: short, audible PCM sounds that any player reads.
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

TEST(AlarmSounds, AreShortAudibleMonoPcmWaves)
{
    for (const char* name : { "highalarm.wav", "lowalarm.wav" }) {
        QFile file(QStringLiteral(DECIMORA_ALARM_SOUND_DIR "/") + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const QByteArray wave = file.readAll();
        ASSERT_GE(wave.size(), 44) << name;
        const auto* bytes = reinterpret_cast<const uchar*>(wave.constData());
        EXPECT_EQ(wave.left(4), QByteArray("RIFF")) << name;
        EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 4), quint32(wave.size() - 8)) << name;
        EXPECT_EQ(wave.mid(8, 8), QByteArray("WAVEfmt ")) << name;
        EXPECT_EQ(qFromLittleEndian<quint16>(bytes + 20), 1) << name; // PCM
        EXPECT_EQ(qFromLittleEndian<quint16>(bytes + 22), 1) << name; // mono
        const quint32 rate = qFromLittleEndian<quint32>(bytes + 24);
        EXPECT_EQ(qFromLittleEndian<quint16>(bytes + 34), 16) << name;
        EXPECT_EQ(wave.mid(36, 4), QByteArray("data")) << name;
        const quint32 dataBytes = qFromLittleEndian<quint32>(bytes + 40);
        ASSERT_EQ(dataBytes, quint32(wave.size() - 44)) << name;

        // Over before the next reading comes, a second later.
        const double seconds = double(dataBytes) / 2 / rate;
        EXPECT_GT(seconds, 0.2) << name;
        EXPECT_LT(seconds, 0.9) << name;
        int peak = 0;
        for (quint32 i = 0; i < dataBytes; i += 2)
            peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(bytes + 44 + i))));
        EXPECT_GT(peak, 8000) << name;
        // Starts and ends softly: no click.
        EXPECT_LT(std::abs(int(qFromLittleEndian<qint16>(bytes + 44))), 500) << name;
        EXPECT_LT(std::abs(int(qFromLittleEndian<qint16>(bytes + wave.size() - 2))), 500) << name;
    }
}

} // namespace
