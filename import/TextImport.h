#pragma once
// Importing contacts from a delimited text file: one line per contact, fields divided by one
// delimiter character. The scan finds the columns and guesses their fields from a header line and
// from addresses in the first lines; the import adds one contact per line to a group.
#include "model/cvSetup.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Copied by value between the caller and the wizard; the main window keeps one for the whole run so
// that the next import starts with the same choices.
struct TcvImportTextInfo {
    // UTF-8, as the file system takes it.
    std::string FileName;
    char Delimiter = '\t';
    bool RemoveQuotes = true;
    TStringList AvailableFields;
    // One per column: the field the column goes to, empty when skipped.
    TStringList ColumnFields;
    std::vector<bool> ColumnChecked;
    bool SetJoinDate = false;
    double JoinDate = 0;
    int32_t RecordCount = 0;
    int32_t FieldCount = 0;
    bool LoadFailed = false;
    // (current line counted from 1, total lines)
    std::function<void(int, int)> OnImportProgress;
};

namespace textimport {

// The contact fields a column can go to: the fixed ones followed by the group's field titles.
TStringList AvailableFieldsOf(const TcvGroup* group);

// The lines of a text: CR, LF or CR LF end a line; a last line without an ending counts too.
TStringList SplitLines(std::string_view text);

// Reads a file as lines; false when it cannot be read.
bool ReadLines(const std::string& fileName, TStringList& lines);

// The fields of one line: adjacent delimiters give an empty field between them, a delimiter at the
// very end of the line adds none, and an empty line has no field.
TStringList LineFields(std::string_view line, char delimiter);

// Leading and trailing blanks and control characters removed.
std::string TrimField(std::string_view field);

// A field that starts with a double or single quote becomes the text up to the matching closing
// quote, a doubled quote inside standing for one; without a closing quote the rest remains.
std::string Unquote(std::string_view field);

}  // namespace textimport

// Counts the lines and columns of info.FileName and assigns fields to columns from the header
// line and from the addresses of lines 2 to 10. Sets LoadFailed when the file cannot be read.
void ScanFile(TcvImportTextInfo& info);

// Adds one contact per line of the file to the group. A failure ends the import silently; the
// contacts added until then stay. The progress handler may let the user delete the group: the
// import then stops.
void ImportTextLines(TcvGroup& group, TcvImportTextInfo& info);
