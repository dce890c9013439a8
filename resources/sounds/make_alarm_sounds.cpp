// Writes the two alarm sounds of the measurement window, highalarm.wav and lowalarm.wav, into the
// folder given as the only argument. The sounds are synthesised here, sample by sample, so the
// program ships nothing it did not make itself.
//
// Both are 16-bit mono PCM at 22,050 Hz and last well under the one second between two readings,
// so that a level that stays beyond an alarm limit sounds once per reading. The high alarm is a
// quick run of three rising chirps; the low alarm two slower, falling tones an octave lower.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int SampleRate = 22050;
constexpr double Pi = 3.14159265358979323846;
// Loud enough to be heard over a noisy site, with room left for the harmonic.
constexpr double Amplitude = 0.45;
// Short fades at both ends of every tone keep the speaker from clicking.
constexpr double FadeSeconds = 0.006;

struct Tone {
    double startHz;
    double endHz;
    double seconds;
    double pauseAfter;
};

void appendTone(std::vector<std::int16_t>& samples, const Tone& tone)
{
    const int count = static_cast<int>(tone.seconds * SampleRate);
    const int fade = static_cast<int>(FadeSeconds * SampleRate);
    double phase = 0.0;
    for (int i = 0; i < count; ++i) {
        const double progress = static_cast<double>(i) / count;
        const double frequency = tone.startHz + (tone.endHz - tone.startHz) * progress;
        phase += 2.0 * Pi * frequency / SampleRate;
        double envelope = 1.0;
        if (i < fade)
            envelope = 0.5 - 0.5 * std::cos(Pi * i / fade);
        else if (i > count - fade)
            envelope = 0.5 - 0.5 * std::cos(Pi * (count - i) / fade);
        // A quarter of the second harmonic makes the tone carry on small laptop speakers.
        const double value = (std::sin(phase) + 0.25 * std::sin(2.0 * phase)) / 1.25;
        samples.push_back(static_cast<std::int16_t>(std::lround(value * envelope * Amplitude * 32767.0)));
    }
    samples.insert(samples.end(), static_cast<std::size_t>(tone.pauseAfter * SampleRate), 0);
}

void put16(std::ofstream& out, std::uint16_t value)
{
    const char bytes[] = { static_cast<char>(value & 0xFF), static_cast<char>(value >> 8) };
    out.write(bytes, 2);
}

void put32(std::ofstream& out, std::uint32_t value)
{
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

bool writeWave(const std::string& path, const std::vector<Tone>& tones)
{
    std::vector<std::int16_t> samples;
    for (const Tone& tone : tones)
        appendTone(samples, tone);
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVE", 4);
    out.write("fmt ", 4);
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 1); // mono
    put32(out, SampleRate);
    put32(out, SampleRate * 2); // bytes per second
    put16(out, 2); // bytes per frame
    put16(out, 16); // bits per sample
    out.write("data", 4);
    put32(out, dataBytes);
    for (const std::int16_t sample : samples)
        put16(out, static_cast<std::uint16_t>(sample));
    out.close();
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<Tone> high = {
        { 1500.0, 2300.0, 0.11, 0.05 },
        { 1500.0, 2300.0, 0.11, 0.05 },
        { 1500.0, 2300.0, 0.11, 0.0 },
    };
    const std::vector<Tone> low = {
        { 760.0, 560.0, 0.22, 0.08 },
        { 760.0, 560.0, 0.22, 0.0 },
    };
    if (!writeWave(folder + "/highalarm.wav", high) || !writeWave(folder + "/lowalarm.wav", low)) {
        std::fprintf(stderr, "%s: cannot write the sounds into %s\n", argv[0], folder.c_str());
        return 1;
    }
    return 0;
}
