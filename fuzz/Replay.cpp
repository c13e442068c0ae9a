// Runs the fuzz bodies without libFuzzer: the seeds, then pseudo-random variations of them from
// a fixed random engine, so every run tries the same inputs. A broken contract aborts.
//
//   fuzz_replay [--count N] [--corpus DIR] [--write-seeds DIR] [records|attributes|scene|studio|level FILE...]
//
//   --count N          variations per body (default 2000)
//   --corpus DIR       runs every file of DIR/records, DIR/attributes, DIR/scene, DIR/studio and DIR/level
//                      through its body first (the kept corpora of the long fuzz runs)
//   --write-seeds DIR  writes the seeds to DIR/records, DIR/attributes, DIR/scene, DIR/studio and DIR/level
//   records FILE...    runs the files through the records body instead (reproducers)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzBodies.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Body = void (*)(std::span<const std::uint8_t>);

/// Float patterns that find the edges: zeros, units, non-finite values, the extremes, tiny and
/// huge numbers.
constexpr std::array<float, 16> kSpecialFloats = {0.0f,
                                                  -0.0f,
                                                  1.0f,
                                                  -1.0f,
                                                  0.5f,
                                                  1000.0f,
                                                  -250.0f,
                                                  NAN,
                                                  std::numeric_limits<float>::infinity(),
                                                  -std::numeric_limits<float>::infinity(),
                                                  std::numeric_limits<float>::max(),
                                                  std::numeric_limits<float>::min(),
                                                  std::numeric_limits<float>::denorm_min(),
                                                  1e10f,
                                                  -1e30f,
                                                  1e-7f};
/// Unsigned patterns: times and indices at their edges.
constexpr std::array<std::uint32_t, 8> kSpecialWords = {0, 1, 16, 1000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};

/// One variation of `seed`: a few random edits of the kinds libFuzzer makes, biased towards the
/// values above.
Bytes mutate(const Bytes& seed, std::mt19937& random) {
    Bytes out = seed;
    auto below = [&](std::size_t n) {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const int edits = 1 + static_cast<int>(below(6));
    for (int e = 0; e < edits; ++e) {
        switch (below(7)) {
            case 0:  // flip a bit
                if (!out.empty()) out[below(out.size())] ^= static_cast<std::uint8_t>(1u << below(8));
                break;
            case 1:  // a random byte
                if (!out.empty()) out[below(out.size())] = static_cast<std::uint8_t>(below(256));
                break;
            case 2:  // a special float over four bytes
            case 3:
                if (out.size() >= 4) {
                    const float f = kSpecialFloats[below(kSpecialFloats.size())];
                    std::memcpy(&out[below(out.size() - 3)], &f, 4);
                }
                break;
            case 4:  // a special word over four bytes
                if (out.size() >= 4) {
                    const std::uint32_t w = kSpecialWords[below(kSpecialWords.size())];
                    std::memcpy(&out[below(out.size() - 3)], &w, 4);
                }
                break;
            case 5:  // cut the tail
                out.resize(below(out.size() + 1));
                break;
            case 6:  // insert random bytes
            {
                const std::size_t at = below(out.size() + 1);
                Bytes extra(1 + below(16));
                for (auto& b : extra) b = static_cast<std::uint8_t>(below(256));
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(), extra.end());
                break;
            }
        }
    }
    return out;
}

Bytes readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "fuzz_replay: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void writeSeeds(const std::filesystem::path& dir, std::string_view kind, const std::vector<Bytes>& seeds) {
    const std::filesystem::path folder = dir / kind;
    std::filesystem::create_directories(folder);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream file(folder / ("seed-" + std::to_string(i)), std::ios::binary);
        file.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    }
}

/// Every file of `dir/kind` through `body`, in name order; the count of files.
std::size_t replayCorpus(const std::filesystem::path& dir, std::string_view kind, Body body) {
    const std::filesystem::path folder = dir / kind;
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "fuzz_replay: no corpus folder %s\n", folder.c_str());
        std::exit(2);
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) body(readFile(file.string()));
    std::printf("%s: %zu corpus inputs passed\n", std::string(kind).c_str(), files.size());
    return files.size();
}

/// The seeds, then `count` variations of them.
void replay(std::string_view kind, Body body, const std::vector<Bytes>& seeds, int count, std::uint32_t seed) {
    for (const Bytes& s : seeds) body(s);
    std::mt19937 random(seed);
    for (int i = 0; i < count; ++i) {
        const Bytes& base = seeds[std::uniform_int_distribution<std::size_t>(0, seeds.size() - 1)(random)];
        // Now and then a variation of a variation, to move further from the seeds.
        Bytes input = mutate(base, random);
        if (i % 4 == 3) input = mutate(input, random);
        body(input);
    }
    std::printf("%s: %zu seeds and %d variations passed\n", std::string(kind).c_str(), seeds.size(), count);
}

}  // namespace

int main(int argc, char** argv) {
    int count = 2000;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::filesystem::path corpus;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--count" && i + 1 < args.size()) {
            count = std::atoi(args[++i].c_str());
        } else if (args[i] == "--corpus" && i + 1 < args.size()) {
            corpus = args[++i];
        } else if (args[i] == "--write-seeds" && i + 1 < args.size()) {
            const std::filesystem::path dir = args[++i];
            writeSeeds(dir, "records", fuzz::recordSeeds());
            writeSeeds(dir, "attributes", fuzz::attributeSeeds());
            writeSeeds(dir, "scene", fuzz::sceneSeeds());
            writeSeeds(dir, "studio", fuzz::studioSeeds());
            writeSeeds(dir, "level", fuzz::levelSeeds());
            return 0;
        } else if (args[i] == "records" || args[i] == "attributes" || args[i] == "scene" || args[i] == "studio" ||
                   args[i] == "level") {
            const Body body = args[i] == "records"      ? &fuzz::fuzzRecords
                              : args[i] == "attributes" ? &fuzz::fuzzAttributes
                              : args[i] == "scene"      ? &fuzz::fuzzScene
                              : args[i] == "studio"     ? &fuzz::fuzzStudio
                                                        : &fuzz::fuzzLevel;
            for (std::size_t f = i + 1; f < args.size(); ++f) {
                body(readFile(args[f]));
                std::printf("%s: ok\n", args[f].c_str());
            }
            return 0;
        } else {
            std::fprintf(
                stderr,
                "usage: fuzz_replay [--count N] [--corpus DIR] [--write-seeds DIR] "
                "[records|attributes|scene|studio|level FILE...]\n");
            return 2;
        }
    }
    if (!corpus.empty()) {
        replayCorpus(corpus, "records", &fuzz::fuzzRecords);
        replayCorpus(corpus, "attributes", &fuzz::fuzzAttributes);
        replayCorpus(corpus, "scene", &fuzz::fuzzScene);
        replayCorpus(corpus, "studio", &fuzz::fuzzStudio);
        replayCorpus(corpus, "level", &fuzz::fuzzLevel);
    }
    replay("records", &fuzz::fuzzRecords, fuzz::recordSeeds(), count, 20261205u);
    replay("attributes", &fuzz::fuzzAttributes, fuzz::attributeSeeds(), count, 5122026u);
    replay("scene", &fuzz::fuzzScene, fuzz::sceneSeeds(), count, 7122026u);
    replay("studio", &fuzz::fuzzStudio, fuzz::studioSeeds(), count / 4, 12072026u);
    replay("level", &fuzz::fuzzLevel, fuzz::levelSeeds(), count, 7122027u);
    return 0;
}
