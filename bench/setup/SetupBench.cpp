// Loading and saving whole setups, and the XML layer alone against pugixml on the same file.
#include "bench/setup/SetupGenerator.h"
#include "xml/sdStreams.h"
#include "xml/sdXmlDocuments.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

const std::string& setupFile(int contacts) {
    static std::map<int, std::string> files;
    auto it = files.find(contacts);
    if (it != files.end()) return it->second;
    const std::string path =
        (std::filesystem::temp_directory_path() / ("corvane-bench-" + std::to_string(contacts) + ".xml")).string();
    GenerateSetup(contacts)->SaveToFile(path);
    return files[contacts] = path;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void BM_SetupLoadFromFile(benchmark::State& state) {
    const std::string& path = setupFile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TcvSetup setup;
        setup.LoadFromFile(path);
        benchmark::DoNotOptimize(setup.GroupCount());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}

void BM_SetupSaveToFile(benchmark::State& state) {
    const std::string& path = setupFile(static_cast<int>(state.range(0)));
    TcvSetup setup;
    setup.LoadFromFile(path);
    const std::string out = path + ".out";
    for (auto _ : state) setup.SaveToFile(out);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(out)));
    std::filesystem::remove(out);
}

void BM_XmlLoadStream(benchmark::State& state) {
    const std::string bytes = fileBytes(setupFile(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        xml::TMemoryStream stream(bytes);
        xml::TsdXmlDocument document;
        document.LoadStream(stream);
        benchmark::DoNotOptimize(document.RootNode());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_XmlSaveStream(benchmark::State& state) {
    const std::string bytes = fileBytes(setupFile(static_cast<int>(state.range(0))));
    xml::TMemoryStream in(bytes);
    xml::TsdXmlDocument document;
    document.LoadStream(in);
    for (auto _ : state) {
        xml::TMemoryStream out;
        document.SaveStream(out);
        benchmark::DoNotOptimize(out.bytes().size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_PugixmlParse(benchmark::State& state) {
    const std::string bytes = fileBytes(setupFile(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        pugi::xml_document document;
        benchmark::DoNotOptimize(document.load_buffer(bytes.data(), bytes.size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_PugixmlSave(benchmark::State& state) {
    const std::string bytes = fileBytes(setupFile(static_cast<int>(state.range(0))));
    pugi::xml_document document;
    document.load_buffer(bytes.data(), bytes.size());
    for (auto _ : state) {
        std::ostringstream out;
        document.save(out, "", pugi::format_raw);
        benchmark::DoNotOptimize(out.tellp());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

// Peak memory of a loaded setup: measured once, in a run of its own, since the peak never falls.
void BM_SetupPeakMemory(benchmark::State& state) {
    const std::string& path = setupFile(static_cast<int>(state.range(0)));
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (auto _ : state) {
        TcvSetup setup;
        setup.LoadFromFile(path);
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        state.counters["peak_rss_mb"] = after.ru_maxrss / 1024.0;
    }
}

}  // namespace

BENCHMARK(BM_SetupPeakMemory)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetupLoadFromFile)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetupSaveToFile)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlLoadStream)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParse)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlSaveStream)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlSave)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
