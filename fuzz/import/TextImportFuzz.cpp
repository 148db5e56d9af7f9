// Arbitrary bytes as a contacts text file: scanned with the delimiter of the first byte, then
// imported into a group with a custom field, every column checked.
#include "import/TextImport.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/corvane_fuzz_textimport." + std::to_string(getpid()) + ".txt";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    TcvSetup setup;
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    auto* field = new TcvFieldDef;
    field->Title = "Town";
    group->AddFieldDef(field);

    TcvImportTextInfo info;
    info.FileName = path;
    info.Delimiter = static_cast<char>(data[0]);
    info.RemoveQuotes = (data[0] & 1) != 0;
    info.AvailableFields = textimport::AvailableFieldsOf(group);
    ScanFile(info);
    if (info.ColumnFields.size() != static_cast<size_t>(info.FieldCount)) __builtin_trap();
    for (size_t i = 0; i < info.ColumnFields.size(); ++i) {
        if (info.ColumnFields[i].empty()) info.ColumnFields[i] = info.AvailableFields[i % info.AvailableFields.size()];
        info.ColumnChecked[i] = true;
    }
    ImportTextLines(*group, info);
    if (group->ContactCount() != info.RecordCount) __builtin_trap();
    return 0;
}
