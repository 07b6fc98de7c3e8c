// Writes the program's two click sounds, UP.wav and DOWN.wav, into the folder
// given as the only argument. The clips are computed, not recorded: a short
// decaying tone with a touch of noise, 22050 Hz, 16-bit mono PCM. The output
// is the same on every run, so the committed files can be checked against it.
#include "WaveFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = sounds::SampleRate;

struct Click {
    const char* file;
    double frequency; // Hz of the tone
    double length;    // seconds
    double decay;     // time constant of the fade, seconds
};

std::vector<std::int16_t> render(const Click& click) {
    const int n = static_cast<int>(click.length * kRate);
    std::vector<std::int16_t> samples(n);
    std::uint32_t noise = 0x2545F491u; // fixed seed: reproducible output
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / (1u << 24)) * 2.0 - 1.0;
        const double tone = std::sin(2.0 * M_PI * click.frequency * t);
        const double attack = std::fmin(1.0, i / 22.0); // 1 ms rise, no pop
        const double envelope = attack * std::exp(-t / click.decay);
        const double value = envelope * (0.75 * tone + 0.25 * hiss * std::exp(-t / 0.002));
        samples[i] = static_cast<std::int16_t>(std::lround(value * 0.6 * 32767.0));
    }
    return samples;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const Click clicks[] = {
        {"UP.wav", 1760.0, 0.030, 0.006},
        {"DOWN.wav", 1175.0, 0.030, 0.008},
    };
    for (const Click& click : clicks) {
        if (!sounds::WriteWave(argv[1], click.file, render(click)))
            return 1;
    }
    return 0;
}
