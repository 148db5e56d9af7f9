#pragma once
// The setup file as the window and the headless runner both keep it: where the log goes, the safe
// save with its ".bak", and the lock that makes one program the only writer of a setup file.
#include "platform/FileLock.h"

#include <memory>
#include <string>

class TcvSetup;

// The folder (UTF-8, ending in '/') for "mailerdeamon.log" and "temp.html": the program's folder
// when it can be written to, otherwise the user's data folder.
std::string ProgramDataFolder();

// The setup's previous content is kept as the file with the extension ".bak".
std::string BackupNameOf(const std::string& path);

// Writes the setup to `path` (UTF-8) through a complete temporary file; the name always holds a
// complete setup and its previous content becomes the ".bak". Throws on failure, leaving the file
// and its ".bak" as they were.
void SaveSetupFile(TcvSetup& setup, const std::string& path);

// The lock file of a setup file.
std::string LockNameOf(const std::string& path);
// Takes the lock of a setup file; null with the holder when another running program holds it.
std::unique_ptr<platform::FileLock> LockSetupFile(const std::string& path, platform::LockHolder* holder);
// "process 1234 on host" for messages.
std::string HolderText(const platform::LockHolder& holder);
