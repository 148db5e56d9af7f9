// Imports a generated text file of 100 000 contacts (address, first and last name, a custom field)
// into an empty group, and the same file again into the group that then holds 100 000 contacts.
// Prints the seconds each import took. Usage: corvane_import_bench [LINES]
#include "import/TextImport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

std::string writeContacts(int lines) {
    const std::string path = (std::filesystem::temp_directory_path() / "corvane_import_bench.txt").string();
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(42);
    const char* domains[] = {"example.com", "example.org", "example.net", "mail.example.com"};
    out << "Email;FirstName;LastName;Town\r\n";
    for (int i = 0; i < lines; ++i) {
        out << "user" << random() % 1000000000 << "." << i << "@" << domains[random() % 4] << ";first" << i
            << ";last" << i << ";town" << random() % 500 << "\r\n";
    }
    return path;
}

double importSeconds(TcvGroup& group, TcvImportTextInfo& info) {
    const auto start = std::chrono::steady_clock::now();
    ImportTextLines(group, info);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    TcvSetup setup;
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    auto* town = new TcvFieldDef;
    town->Title = "Town";
    group->AddFieldDef(town);

    TcvImportTextInfo info;
    info.FileName = writeContacts(lines);
    info.Delimiter = ';';
    info.AvailableFields = textimport::AvailableFieldsOf(group);
    const auto scanStart = std::chrono::steady_clock::now();
    ScanFile(info);
    const double scan = std::chrono::duration<double>(std::chrono::steady_clock::now() - scanStart).count();
    int reported = 0;
    info.OnImportProgress = [&](int current, int) { reported = current; };

    const double empty = importSeconds(*group, info);
    const double full = importSeconds(*group, info);
    std::printf("scan of %d lines: %.3f s\n", info.RecordCount, scan);
    std::printf("import into an empty group: %.3f s\n", empty);
    std::printf("import into a group of %d contacts: %.3f s (now %d contacts, %d progress reports)\n",
                info.RecordCount, full, group->ContactCount(), reported);
    std::filesystem::remove(info.FileName);
    return 0;
}
