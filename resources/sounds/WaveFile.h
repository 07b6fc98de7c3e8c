// The sound generators' common part: 16-bit mono PCM samples at 22050 Hz
// written as a WAVE file, byte for byte the same on every run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sounds {

constexpr int SampleRate = 22050;

// The samples as the bytes of a WAVE file.
inline std::vector<unsigned char> Wave(const std::vector<std::int16_t>& samples) {
    std::vector<unsigned char> out;
    const auto put16 = [&out](unsigned v) {
        out.push_back(v & 0xFF);
        out.push_back((v >> 8) & 0xFF);
    };
    const auto put32 = [&put16](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    const auto putTag = [&out](const char* tag) { out.insert(out.end(), tag, tag + 4); };
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    putTag("RIFF");
    put32(36 + dataBytes);
    putTag("WAVE");
    putTag("fmt ");
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(SampleRate);
    put32(SampleRate * 2); // bytes per second
    put16(2);              // block align
    put16(16);             // bits per sample
    putTag("data");
    put32(dataBytes);
    for (std::int16_t s : samples)
        put16(static_cast<std::uint16_t>(s));
    return out;
}

// Writes the samples to folder/file; false, with the reason on standard
// error, when the file cannot be written whole.
inline bool WriteWave(const std::string& folder, const char* file,
                      const std::vector<std::int16_t>& samples) {
    const std::string path = folder + "/" + file;
    const std::vector<unsigned char> bytes = Wave(samples);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = f && std::fclose(f) == 0;
    if (written && closed)
        return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

} // namespace sounds
