#pragma once
// Replacing files without ever losing the old one. The new content goes to a temporary file beside
// the target and replaces it in one rename only once every byte has reached the disk; a full disk
// or a file-size limit is reported, and the old file stays as it was.
#include <QSaveFile>
#include <QString>

#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

class FileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Flushes what the file still buffers and commits it. A write, the final flush or the replacement
// that failed throws FileWriteError with the file's name and the reason; the target is untouched
// and the temporary file removed then. (QSaveFile::commit alone ignores a failed final flush.)
void commitSaveFile(QSaveFile& file);

// Writes data as the whole new content of path in one safe replacement.
void replaceFileContents(const QString& path, std::string_view data, bool ownerOnly = false);

// Turns the complete file `fresh` into `path`, keeping the previous content of `path` as `backup`.
// At no moment is `path` missing or incomplete: the old file is first linked (or copied) to a
// temporary name that replaces `backup`, then `fresh` replaces `path` in one rename. The backup is
// made readable by its owner only. A failure throws FileWriteError and leaves `path` and the old
// `backup` as they were (`fresh` is left for the caller to remove).
void replaceKeepingBackup(const QString& fresh, const QString& path, const QString& backup);

}  // namespace platform
