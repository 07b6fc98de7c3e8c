// Writes the program's two click sounds, UP.wav and DOWN.wav, into the folder
// given as the only argument. The clips are computed, not recorded: a short
// decaying tone with a touch of noise, 22050 Hz, 16-bit mono PCM. The output
// is the same on every run, so the committed files can be checked against it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;

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

void put16(std::vector<unsigned char>& out, unsigned v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void putTag(std::vector<unsigned char>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

std::vector<unsigned char> wave(const std::vector<std::int16_t>& samples) {
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<unsigned char> out;
    putTag(out, "RIFF");
    put32(out, 36 + dataBytes);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 1); // mono
    put32(out, kRate);
    put32(out, kRate * 2); // bytes per second
    put16(out, 2);         // block align
    put16(out, 16);        // bits per sample
    putTag(out, "data");
    put32(out, dataBytes);
    for (std::int16_t s : samples)
        put16(out, static_cast<std::uint16_t>(s));
    return out;
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
        const std::string path = std::string(argv[1]) + "/" + click.file;
        const std::vector<unsigned char> bytes = wave(render(click));
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            if (f)
                std::fclose(f);
            return 1;
        }
        if (std::fclose(f) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
