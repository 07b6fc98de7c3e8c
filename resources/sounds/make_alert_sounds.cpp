// Writes the three alert clips into the folder given as the only argument:
// ALERTDOWN.wav (a falling pair of tones), ALERTDEGRADED.wav (two beeps on
// one pitch) and ALERTUP.wav (a rising pair). Like the click sounds they are
// computed, 22050 Hz, 16-bit mono PCM, and the same on every run, so the
// committed files can be checked against this program's output.
#include "WaveFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = sounds::SampleRate;

// One tone of a clip: its pitch, when it starts and how long it lasts.
struct Note {
    double frequency; // Hz
    double start;     // seconds from the clip's start
    double length;    // seconds
};

struct Clip {
    const char* file;
    std::vector<Note> notes;
    double length; // seconds
};

// A soft bell-like tone: the fundamental with a little of its octave, a
// 5 ms rise and a fade to silence at its end, so that no note clicks.
double tone(const Note& note, double t) {
    const double local = t - note.start;
    if (local < 0.0 || local >= note.length)
        return 0.0;
    const double attack = std::fmin(1.0, local / 0.005);
    const double release = std::fmin(1.0, (note.length - local) / 0.02);
    const double decay = std::exp(-local / (note.length * 0.8));
    const double w = 2.0 * M_PI * note.frequency * local;
    return attack * release * decay * (0.8 * std::sin(w) + 0.2 * std::sin(2.0 * w));
}

std::vector<std::int16_t> render(const Clip& clip) {
    const int n = static_cast<int>(clip.length * kRate);
    std::vector<std::int16_t> samples(n);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double value = 0.0;
        for (const Note& note : clip.notes)
            value += tone(note, t);
        samples[i] = static_cast<std::int16_t>(
            std::lround(std::fmax(-1.0, std::fmin(1.0, value)) * 0.5 * 32767.0));
    }
    return samples;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const Clip clips[] = {
        // G5 falling to C5: something went away.
        {"ALERTDOWN.wav", {{784.0, 0.0, 0.16}, {523.25, 0.16, 0.26}}, 0.42},
        // Two short A5 beeps: attention, nothing lost yet.
        {"ALERTDEGRADED.wav", {{880.0, 0.0, 0.09}, {880.0, 0.14, 0.09}}, 0.23},
        // C5 rising to G5: back again.
        {"ALERTUP.wav", {{523.25, 0.0, 0.12}, {784.0, 0.12, 0.2}}, 0.32},
    };
    for (const Clip& clip : clips) {
        if (!sounds::WriteWave(argv[1], clip.file, render(clip)))
            return 1;
    }
    return 0;
}
