#include "import/TextImport.h"

#include "platform/Locale.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

namespace textimport {

namespace {
const char* const FixedFields[] = {"Email", "FirstName", "LastName", "Joined"};
// Address detection looks at the lines after the header up to this line number.
constexpr size_t LastDetectionLine = 10;

bool isBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

TStringList AvailableFieldsOf(const TcvGroup* group) {
    TStringList fields(std::begin(FixedFields), std::end(FixedFields));
    if (group)
        for (int i = 0; i < group->FieldDefCount(); ++i) fields.push_back(group->FieldDefs(i)->Title);
    return fields;
}

TStringList SplitLines(std::string_view text) {
    TStringList lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

bool ReadLines(const std::string& fileName, TStringList& lines) {
    lines.clear();
    if (fileName.empty()) return false;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    lines = SplitLines(text);
    return true;
}

TStringList LineFields(std::string_view line, char delimiter) {
    TStringList fields;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != delimiter) continue;
        fields.emplace_back(line.substr(start, i - start));
        start = i + 1;
    }
    if (start < line.size()) fields.emplace_back(line.substr(start));
    return fields;
}

std::string TrimField(std::string_view field) {
    size_t first = 0, last = field.size();
    while (first < last && isBlankOrControl(field[first])) ++first;
    while (last > first && isBlankOrControl(field[last - 1])) --last;
    return std::string(field.substr(first, last - first));
}

std::string Unquote(std::string_view field) {
    if (field.empty() || (field[0] != '"' && field[0] != '\'')) return std::string(field);
    const char quote = field[0];
    std::string result;
    for (size_t i = 1; i < field.size(); ++i) {
        if (field[i] != quote) {
            result += field[i];
        } else if (i + 1 < field.size() && field[i + 1] == quote) {
            result += quote;
            ++i;
        } else {
            break;
        }
    }
    return result;
}

}  // namespace textimport

using namespace textimport;

void ScanFile(TcvImportTextInfo& info) {
    info.LoadFailed = false;
    info.FieldCount = 0;
    TStringList lines;
    if (!ReadLines(info.FileName, lines)) {
        info.LoadFailed = true;
        info.RecordCount = 0;
        return;
    }
    info.RecordCount = static_cast<int32_t>(lines.size());
    std::vector<TStringList> firstLines;
    for (size_t i = 0; i < lines.size(); ++i) {
        TStringList fields = LineFields(lines[i], info.Delimiter);
        info.FieldCount = std::max(info.FieldCount, static_cast<int32_t>(fields.size()));
        if (i < LastDetectionLine) firstLines.push_back(std::move(fields));
    }
    // Resized once the widest line is known, so that the assignments of an earlier import survive
    // in every column the new file still has, whatever the width of its first lines.
    info.ColumnFields.resize(static_cast<size_t>(info.FieldCount));
    info.ColumnChecked.resize(static_cast<size_t>(info.FieldCount), false);
    if (firstLines.empty()) return;

    const TStringList& header = firstLines[0];
    for (size_t column = 0; column < header.size(); ++column) {
        const std::string cell = platform::asciiUpper(header[column]);
        for (const std::string& name : info.AvailableFields) {
            if (name.empty() || cell.find(platform::asciiUpper(name)) == std::string::npos) continue;
            info.ColumnFields[column] = name;
            info.ColumnChecked[column] = true;
        }
    }
    for (size_t line = 1; line < firstLines.size(); ++line) {
        const TStringList& fields = firstLines[line];
        for (size_t column = 0; column < fields.size(); ++column) {
            const std::string& field = fields[column];
            if (!info.ColumnFields[column].empty()) continue;
            if (field.find('@') == std::string::npos || field.find('.') == std::string::npos) continue;
            info.ColumnFields[column] = "Email";
            info.ColumnChecked[column] = true;
        }
    }
}

void ImportTextLines(TcvGroup& group, TcvImportTextInfo& info) {
    TStringList lines;
    if (!ReadLines(info.FileName, lines)) return;
    const std::weak_ptr<const void> groupAlive = group.Alive();
    const size_t columns = std::min(info.ColumnFields.size(), info.ColumnChecked.size());
    // The contacts join the group together at the end (or when the import fails), in one sorted
    // merge: one by one, each would move half the list.
    std::vector<std::unique_ptr<TcvContact>> added;
    try {
        for (size_t index = 0; index < lines.size(); ++index) {
            TStringList fields = LineFields(lines[index], info.Delimiter);
            fields.resize(std::max({fields.size(), static_cast<size_t>(std::max(info.FieldCount, 0)), columns}));
            for (std::string& field : fields) {
                field = TrimField(field);
                if (info.RemoveQuotes) field = Unquote(field);
            }

            auto contact = std::make_unique<TcvContact>();
            for (size_t column = 0; column < columns; ++column)
                if (info.ColumnChecked[column] && info.ColumnFields[column] == "Email") contact->Email = fields[column];
            // The custom fields are sized by the group the contact is about to join.
            contact->Group = &group;
            for (size_t column = 0; column < columns; ++column) {
                if (!info.ColumnChecked[column]) continue;
                const std::string& name = info.ColumnFields[column];
                const std::string& value = fields[column];
                if (name == "FirstName") {
                    contact->SetFirstName(value);
                } else if (name == "LastName") {
                    contact->SetLastName(value);
                } else if (name == "Joined") {
                    double joined = 0;
                    contact->Joined = platform::parseDateTime(value, joined) ? joined : info.JoinDate;
                } else if (!name.empty()) {
                    const int position = group.IndexOfFieldDef(name);
                    if (position >= 0) contact->SetCustomField(position, value);
                }
            }
            if (info.SetJoinDate) contact->Joined = info.JoinDate;
            added.push_back(std::move(contact));
            if (info.OnImportProgress) {
                info.OnImportProgress(static_cast<int>(index + 1), info.RecordCount);
                if (groupAlive.expired()) return;
            }
        }
    } catch (const std::exception&) {
        // The import ends silently; what was read so far is added.
    }
    group.AddContacts(std::move(added));
}
