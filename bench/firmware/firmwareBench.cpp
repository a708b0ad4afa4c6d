// Decoding and loading firmware packages of 64 KB to 512 KB memory images
// (a 512 KB image is about 1.6 MB of package text).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/firmwareLoader.h"
#include "firmware/packageFile.h"
#include "firmware/textLines.h"

using namespace dorvane;
using namespace dorvane::firmware;

namespace {

std::string imageText(std::size_t bytes) {
    std::string text = "@0000\r\n";
    char pair[4];
    for (std::size_t i = 0; i < bytes; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>((i * 7 + i / 251) & 0xFF));
        text += pair;
        text += (i % 16 == 15) ? "\r\n" : " ";
    }
    text += "q\r\n";
    return text;
}

struct BenchContext final : ILoaderContext {
    bool isHostActive() override { return false; }
    const HostSettings& settings() override { return hostSettings; }
    std::string flashSizeText() override { return "512k"; }
    IStatusPanels* statusPanels() override { return nullptr; }
    IProgressBar* progressBar() override { return nullptr; }
    HostSettings hostSettings;
};

const char* const kName = "V1.2.3.4_BENCH.qfwp";

std::string makePackage(std::size_t imageBytes) {
    std::string package, error;
    if (!packText(imageText(imageBytes), kName, "5EED1234", package, error)) std::abort();
    return package;
}

// The whole load: file read, decoding with every check, block cutting, checksum.
void LoadPackage(benchmark::State& state) {
    const std::size_t imageBytes = static_cast<std::size_t>(state.range(0)) * 1024;
    const std::string package = makePackage(imageBytes);
    const auto dir = std::filesystem::temp_directory_path() / ("dorvane-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / kName).string();
    std::ofstream(path, std::ios::binary).write(package.data(), static_cast<std::streamsize>(package.size()));

    BenchContext context;
    FirmwareImage image;
    ProductCatalogue catalogue;
    catalogue.add({"BENCH", 64, "Bench"});
    ProductKeysList keys;
    FirmwareLoader loader(context, image, catalogue, keys);
    std::string message;
    for (auto _ : state) {
        if (!loader.load(false, false, path, "", message)) state.SkipWithError(message.c_str());
        benchmark::DoNotOptimize(image.checksum());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(package.size()));
    state.SetComplexityN(static_cast<std::int64_t>(package.size()));
    state.counters["package_bytes"] = static_cast<double>(package.size());
    state.counters["blocks"] = image.blockCount();
    std::filesystem::remove_all(dir);
}
BENCHMARK(LoadPackage)->RangeMultiplier(2)->Range(64, 512)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// The descrambler walk and its checks alone, on lines already in memory.
void DecodePackage(benchmark::State& state) {
    const std::size_t imageBytes = static_cast<std::size_t>(state.range(0)) * 1024;
    const std::string package = makePackage(imageBytes);
    const TextFile file = splitLines(package);
    PackageDescrambler descrambler;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> lines = file.lines;
        state.ResumeTiming();
        if (decodePackage(descrambler, lines, "V1.2.3.4_BENCH") != DecodeResult::Ok) state.SkipWithError("refused");
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(package.size()));
    state.SetComplexityN(static_cast<std::int64_t>(package.size()));
}
BENCHMARK(DecodePackage)->RangeMultiplier(2)->Range(64, 512)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
