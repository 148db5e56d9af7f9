#pragma once
// A store that binds process-wide option variables to values in the per-user registry. All bound
// variables are read once at start-up and written once at shut-down; in between the program reads
// and writes the variables directly.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

enum class TOptionKind : uint8_t {
    okBoolean = 0,
    okByte = 1,
    okWord = 2,
    okInteger = 3,
    okString = 4,
    okSingle = 5,
    okDouble = 6,
    okFont = 9,
    okRect = 10,
    // A file path: kept as Unicode (UTF-8) in the variable and the store, since a path need not
    // fit the 8-bit code page.
    okFilePath = 11,
};

class EOptionsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TOptionRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    bool operator==(const TOptionRect&) const = default;
};

// Font style bits as stored in the "_Bold" and "_Italic" values.
struct TOptionFont {
    std::string Name;
    int32_t Size = 0;
    uint32_t Color = 0;
    bool Bold = false;
    bool Italic = false;
    bool operator==(const TOptionFont&) const = default;
};

struct TOptionsItem {
    TOptionKind Kind = TOptionKind::okBoolean;
    std::string Name;
    std::string Section;
    // The bound variable: bool, uint8_t, uint16_t, int32_t, std::string, float, double,
    // TOptionFont or TOptionRect according to Kind.
    void* Data = nullptr;
};

class TOptionsManager {
public:
    int AddOption(void* Data, TOptionKind Kind, const std::string& Name, const std::string& Section);
    int AddBoolean(bool* Data, const std::string& Section, const std::string& Name);
    int AddInteger(int32_t* Data, const std::string& Section, const std::string& Name);
    int AddRect(TOptionRect* Data, const std::string& Section, const std::string& Name);
    int AddString(std::string* Data, const std::string& Section, const std::string& Name);
    int AddFilePath(std::string* Data, const std::string& Section, const std::string& Name);

    int Count() const { return static_cast<int>(items_.size()); }
    TOptionsItem* Items(int Index) const;

    // BaseKey is an absolute key path below HKEY_CURRENT_USER starting with a backslash.
    void LoadFromRegistry(const std::string& BaseKey);
    void SaveToRegistry(const std::string& BaseKey);

private:
    std::vector<std::unique_ptr<TOptionsItem>> items_;
};

// The program's option variables, named as their registry values, with their defaults.
namespace options {
extern std::string SetupName;  // UTF-8
extern bool MaskPasswords;
extern std::string TestEmailRecipients;
extern std::string TestEmailSubject;
extern std::string TestEmailBody;
extern std::string TestContentType;
extern bool LoadAtStartup;
extern bool SaveAtShutdown;
extern bool AutoSave;
extern int32_t AutoSavePeriod;
extern bool AutoStartMailer;
extern bool WarnBeforeFirstMail;
extern bool LogMailerActivity;
extern bool LogLimitSize;
extern int32_t LogMaxSize;
extern bool SortByDomain;
extern bool ContactInfoHoover;
extern bool KeepUnsubscribed;
extern TOptionRect MainWindow;
extern int32_t Identity;
extern int32_t FoldersWidth;
extern int32_t MessagesHeight;
extern TOptionRect MainBounds;
extern bool MainStored;
// The largest incoming mail a mailbox check takes in, in KB; larger mails stay on the server.
extern int32_t MailMaxSize;

// The key below HKEY_CURRENT_USER that holds the program's options.
inline constexpr const char* RegistryBase = "\\Software\\Brixwold\\Corvane";

// Registers the 25 bindings in their fixed order.
void RegisterOptions(TOptionsManager& manager);
// Puts every variable back to its default (tests, and a fresh start).
void ResetToDefaults();
}  // namespace options
