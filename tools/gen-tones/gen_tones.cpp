// gen-tones OUTPUT_DIR: writes the nine sound files of the device root as 16-bit mono PCM
// RIFF/WAVE, each a short tone pattern of its own (100 to 400 ms), the same bytes on every run.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr unsigned kSampleRate = 16000;
constexpr double kPi = 3.14159265358979323846;

struct Note {
    double frequency;  // Hz; 0 is a pause
    unsigned milliseconds;
};

struct Tone {
    const char* name;
    std::initializer_list<Note> notes;
};

// Distinct pitches and rhythms, one per sound number.
const Tone kTones[] = {
    {"Default", {{1000, 120}}},
    {"Hwandsw", {{1400, 60}, {0, 40}, {1400, 60}}},
    {"MenuPop", {{660, 70}, {990, 70}}},
    {"MsgBox", {{520, 200}}},
    {"Notify", {{880, 80}, {0, 30}, {1175, 80}, {0, 30}, {1568, 100}}},
    {"VoicBeep", {{2400, 100}}},
    {"Alarm2", {{1800, 80}, {0, 50}, {1200, 80}, {0, 50}, {1800, 80}}},
    {"Alarm3", {{600, 90}, {0, 40}, {600, 90}, {0, 40}, {600, 90}}},
    {"LowBatt", {{440, 150}, {0, 50}, {330, 200}}},
};

void putLe(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::vector<std::int16_t> render(const Tone& tone) {
    std::vector<std::int16_t> samples;
    for (const Note& note : tone.notes) {
        const unsigned count = kSampleRate * note.milliseconds / 1000;
        const unsigned ramp = kSampleRate / 200;  // 5 ms fade in and out: no clicks
        for (unsigned i = 0; i < count; ++i) {
            double value = 0;
            if (note.frequency > 0) {
                double envelope = 1.0;
                if (i < ramp) envelope = static_cast<double>(i) / ramp;
                if (count - i < ramp) envelope = static_cast<double>(count - i) / ramp;
                value = 0.5 * envelope * std::sin(2 * kPi * note.frequency * i / kSampleRate);
            }
            samples.push_back(static_cast<std::int16_t>(std::lround(value * 32767)));
        }
    }
    return samples;
}

std::vector<unsigned char> wave(const std::vector<std::int16_t>& samples) {
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<unsigned char> out;
    for (char c : std::string("RIFF"))
        out.push_back(static_cast<unsigned char>(c));
    putLe(out, 36 + dataBytes, 4);
    for (char c : std::string("WAVEfmt "))
        out.push_back(static_cast<unsigned char>(c));
    putLe(out, 16, 4);               // fmt chunk size
    putLe(out, 1, 2);                // PCM
    putLe(out, 1, 2);                // mono
    putLe(out, kSampleRate, 4);      // sample rate
    putLe(out, kSampleRate * 2, 4);  // byte rate
    putLe(out, 2, 2);                // block align
    putLe(out, 16, 2);               // bits per sample
    for (char c : std::string("data"))
        out.push_back(static_cast<unsigned char>(c));
    putLe(out, dataBytes, 4);
    for (std::int16_t sample : samples)
        putLe(out, static_cast<std::uint16_t>(sample), 2);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen-tones OUTPUT_DIR\n");
        return 64;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const Tone& tone : kTones) {
        const std::filesystem::path file = dir / (std::string(tone.name) + ".wav");
        std::vector<unsigned char> bytes = wave(render(tone));
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "gen-tones: cannot write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}
