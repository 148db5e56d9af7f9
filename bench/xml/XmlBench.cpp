// Reads and writes a setup-shaped document of 100 000 contacts with the XML layer and with
// pugixml on the same bytes, and prints how many times slower the layer is.
#include "xml/sdXmlDocuments.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int GroupCount = 10;
constexpr int ContactsPerGroup = 10000;

std::string makeSetup() {
    auto doc = xml::TsdXmlDocument::CreateWithRoot("Corvane");
    doc->WriteDefaults = false;
    xml::TXmlNode* root = doc->RootNode();
    root->SetChildInt("TotalCount", 123456, 0);
    for (int a = 0; a < 2; ++a) {
        xml::TXmlNode* acc = root->AddChild("Account");
        acc->SetChildText("Name", "Account " + std::to_string(a), "");
        acc->SetChildText("ServerName", "mail.example.org", "");
        acc->SetChildInt("PortPop3", 110, 0);
        acc->SetChildInt("PortSmtp", 25, 0);
        acc->SetChildBool("UseForSending", true, false);
    }
    int serial = 0;
    for (int g = 0; g < GroupCount; ++g) {
        xml::TXmlNode* group = root->AddChild("Group");
        group->SetChildText("Name", "Group " + std::to_string(g), "");
        group->SetChildText("Code", "G" + std::to_string(g), "");
        group->SetChildBool("Active", true, false);
        group->SetChildText("Purpose", "Newsletter & updates\r\nsecond line", "");
        xml::TXmlNode* messages = group->AddChild("Messages");
        for (int m = 0; m < 5; ++m) {
            xml::TXmlNode* msg = messages->AddChild("Message");
            msg->SetChildText("BodyPlain", "Hello %FirstName,\r\n\r\nthis is message " + std::to_string(m) + ".", "");
            msg->SetChildText("Code", "M" + std::to_string(m), "");
            msg->SetChildText("Status", "Live", "");
            msg->SetChildText("Mode", "Triggered", "");
            msg->SetChildText("Subject", "Issue <" + std::to_string(m) + ">", "");
        }
        xml::TXmlNode* fields = group->AddChild("FieldDefs");
        fields->AddChild("FieldDef")->SetChildText("Title", "Company", "");
        group->AddChild("Parsers");
        xml::TXmlNode* contacts = group->AddChild("Contacts");
        for (int c = 0; c < ContactsPerGroup; ++c, ++serial) {
            xml::TXmlNode* contact = contacts->AddChild("Contact");
            const std::string n = std::to_string(serial);
            contact->SetChildText("Email", "subscriber" + n + "@example" + std::to_string(serial % 97) + ".com", "");
            contact->SetChildText("FirstName", "First" + n, "");
            contact->SetChildText("LastName", "O'Last" + n, "");
            contact->SetChildDate("Joined", 43831.5 + serial % 1000, 0);
            contact->SetChildInt("TotalBytes", 1000 + serial, 0);
            contact->SetChildInt("TotalDuration", serial % 5000, 0);
            contact->SetChildText("CustomFields", "Acme " + n + "\r\n\r\n", "");
            for (int h = 0; h < 2; ++h) {
                xml::TXmlNode* hist = contact->AddChild("Hist");
                hist->SetChildText("Code", "M" + std::to_string(h), "");
                hist->SetChildDate("Date", 43900 + h, 0);
            }
        }
    }
    return doc->RenderString();
}

const std::string& setupText() {
    static const std::string text = makeSetup();
    return text;
}

void BM_Corvane_LoadStream(benchmark::State& state) {
    const std::string& text = setupText();
    xml::TMemoryStream stream(text);
    for (auto _ : state) {
        stream.setPosition(0);
        auto doc = std::make_unique<xml::TsdXmlDocument>();
        doc->LoadStream(stream);
        benchmark::DoNotOptimize(doc->RootNode()->childCount());
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Corvane_ParseString(benchmark::State& state) {
    const std::string& text = setupText();
    for (auto _ : state) {
        auto doc = std::make_unique<xml::TsdXmlDocument>();
        doc->ParseString(text);
        benchmark::DoNotOptimize(doc->RootNode()->childCount());
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Pugixml_Parse(benchmark::State& state) {
    const std::string& text = setupText();
    for (auto _ : state) {
        auto doc = std::make_unique<pugi::xml_document>();
        const pugi::xml_parse_result result = doc->load_buffer(text.data(), text.size());
        if (!result) state.SkipWithError(result.description());
        benchmark::DoNotOptimize(doc->first_child());
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// Freeing the tree, which the parse timings leave out on both sides.
void BM_Corvane_Free(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto doc = std::make_unique<xml::TsdXmlDocument>();
        doc->ParseString(setupText());
        state.ResumeTiming();
        doc.reset();
    }
}

void BM_Pugixml_Free(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto doc = std::make_unique<pugi::xml_document>();
        doc->load_buffer(setupText().data(), setupText().size());
        state.ResumeTiming();
        doc.reset();
    }
}

void BM_Corvane_SaveStream(benchmark::State& state) {
    xml::TsdXmlDocument doc;
    doc.ParseString(setupText());
    for (auto _ : state) {
        xml::TMemoryStream out;
        doc.SaveStream(out);
        benchmark::DoNotOptimize(out.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(setupText().size()));
}

class StringWriter : public pugi::xml_writer {
public:
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void BM_Pugixml_Save(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_buffer(setupText().data(), setupText().size());
    for (auto _ : state) {
        StringWriter writer;
        doc.save(writer, "", pugi::format_raw);
        benchmark::DoNotOptimize(writer.out.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(setupText().size()));
}

BENCHMARK(BM_Corvane_LoadStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Corvane_ParseString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Corvane_Free)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml_Free)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Corvane_SaveStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml_Save)->Unit(benchmark::kMillisecond);

// Keeps the time per iteration of every run so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::pair<double, double>> msPerIteration;
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions the mean stands for the benchmark.
        for (const Run& run : runs)
            if (run.iterations > 0 && (run.aggregate_name.empty() || run.aggregate_name == "mean"))
                msPerIteration[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("Setup document: %.1f MB, %d contacts\n", static_cast<double>(setupText().size()) / 1e6,
                GroupCount * ContactsPerGroup);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* peer) {
        const auto a = reporter.msPerIteration.find(ours);
        const auto b = reporter.msPerIteration.find(peer);
        if (a == reporter.msPerIteration.end() || b == reporter.msPerIteration.end()) return;
        // On a shared machine the CPU time is the steadier of the two.
        std::printf("%-24s / %-18s = %.2fx real, %.2fx CPU\n", ours, peer, a->second.first / b->second.first,
                    a->second.second / b->second.second);
    };
    ratio("BM_Corvane_LoadStream", "BM_Pugixml_Parse");
    ratio("BM_Corvane_ParseString", "BM_Pugixml_Parse");
    ratio("BM_Corvane_Free", "BM_Pugixml_Free");
    ratio("BM_Corvane_SaveStream", "BM_Pugixml_Save");
    benchmark::Shutdown();
    return 0;
}
