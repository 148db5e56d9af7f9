#include "platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

std::filesystem::path fsPath(const QString& path) { return std::filesystem::path(path.toStdU16String()); }

std::string text(const QString& s) { return s.toStdString(); }

[[noreturn]] void fail(const QString& path, const std::string& reason) {
    throw FileWriteError("Cannot write file \"" + text(path) + "\". " + reason);
}

// Makes a rename in the folder survive a power cut; a file system that cannot sync folders is
// no reason to fail the save.
void syncFolder(const QString& path) {
#ifndef _WIN32
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
#else
    (void)path;
#endif
}

void copyWhole(const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) fail(to, text(in.errorString()));
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly)) fail(to, text(out.errorString()));
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0) fail(to, text(in.errorString()));
        if (n == 0) break;
        if (out.write(buffer, n) != n) {
            out.cancelWriting();
            fail(to, text(out.errorString()));
        }
    }
    commitSaveFile(out);
}

}  // namespace

void commitSaveFile(QSaveFile& file) {
    const bool flushed = file.flush();
    if (!flushed || file.error() != QFileDevice::NoError) {
        const std::string reason = text(file.errorString());
        file.cancelWriting();
        file.commit();  // ends the cancelled write and removes the temporary file
        fail(file.fileName(), reason);
    }
    if (!file.commit()) fail(file.fileName(), text(file.errorString()));
}

void replaceFileContents(const QString& path, std::string_view data, bool ownerOnly) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) fail(path, text(file.errorString()));
    if (ownerOnly) file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(data.data(), static_cast<qint64>(data.size())) != static_cast<qint64>(data.size())) {
        const std::string reason = text(file.errorString());
        file.cancelWriting();
        file.commit();
        fail(path, reason);
    }
    commitSaveFile(file);
}

void replaceKeepingBackup(const QString& fresh, const QString& path, const QString& backup) {
    std::error_code error;
    if (QFileInfo::exists(path)) {
        const QString staged = backup + ".new";
        std::filesystem::remove(fsPath(staged), error);
        // A second name for the old file costs nothing and cannot fail half-way; where the file
        // system has no hard links the old file is copied instead.
        std::filesystem::create_hard_link(fsPath(path), fsPath(staged), error);
        if (error) copyWhole(path, staged);
        // The backup holds the same passwords as the setup file.
        std::filesystem::permissions(fsPath(staged),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::replace, error);
        std::filesystem::rename(fsPath(staged), fsPath(backup), error);
        if (error) {
            std::error_code ignored;
            std::filesystem::remove(fsPath(staged), ignored);
            throw FileWriteError("Cannot make the backup \"" + text(backup) + "\". " + error.message());
        }
    }
    std::filesystem::rename(fsPath(fresh), fsPath(path), error);
    if (error) fail(path, error.message());
    syncFolder(path);
}

}  // namespace platform
