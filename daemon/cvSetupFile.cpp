#include "daemon/cvSetupFile.h"

#include "model/cvSetup.h"
#include "platform/SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>

std::string ProgramDataFolder() {
    const QString programDir = QCoreApplication::applicationDirPath();
    const QFileInfo info(programDir);
    if (!programDir.isEmpty() && info.isDir() && info.isWritable())
        return QDir(programDir).absolutePath().toStdString() + '/';
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return QDir(data).absolutePath().toStdString() + '/';
}

std::string BackupNameOf(const std::string& path) {
    return std::filesystem::path(path).replace_extension(".bak").string();
}

void SaveSetupFile(TcvSetup& setup, const std::string& path) {
    const QString temporary = QString::fromStdString(path + ".saving");
    try {
        setup.SaveToFile(temporary.toStdString());
        platform::replaceKeepingBackup(temporary, QString::fromStdString(path),
                                       QString::fromStdString(BackupNameOf(path)));
    } catch (...) {
        QFile::remove(temporary);
        throw;
    }
    setup.Modified = false;
}

std::string LockNameOf(const std::string& path) { return path + ".lock"; }

std::unique_ptr<platform::FileLock> LockSetupFile(const std::string& path, platform::LockHolder* holder) {
    return platform::FileLock::acquire(LockNameOf(path), holder);
}

std::string HolderText(const platform::LockHolder& holder) {
    return "process " + std::to_string(holder.Pid) + (holder.Host.empty() ? std::string() : " on " + holder.Host);
}
