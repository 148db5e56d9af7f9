#include "options/OptionRefs.h"

#include "platform/Registry.h"

#include <cstdio>
#include <cstring>

using platform::RegistryKey;

namespace {

bool knownKind(TOptionKind kind) {
    switch (kind) {
    case TOptionKind::okBoolean:
    case TOptionKind::okByte:
    case TOptionKind::okWord:
    case TOptionKind::okInteger:
    case TOptionKind::okString:
    case TOptionKind::okSingle:
    case TOptionKind::okDouble:
    case TOptionKind::okFont:
    case TOptionKind::okRect:
    case TOptionKind::okFilePath:
        return true;
    }
    return false;
}

double readDouble(const RegistryKey& key, const std::string& name) {
    const std::vector<uint8_t> raw = key.readBinary(name);
    if (raw.size() != sizeof(double)) throw platform::RegistryError("Invalid data type for '" + name + "'");
    double d = 0;
    std::memcpy(&d, raw.data(), sizeof d);
    return d;
}

void writeDouble(RegistryKey& key, const std::string& name, double d) {
    std::vector<uint8_t> raw(sizeof d);
    std::memcpy(raw.data(), &d, sizeof d);
    key.writeBinary(name, raw);
}

int32_t readInt(const RegistryKey& key, const std::string& name) {
    return static_cast<int32_t>(key.readDword(name));
}

// Each part is stored as soon as it is read, so a failure in a later part keeps the earlier ones.
void readItem(const RegistryKey& key, const TOptionsItem& item) {
    const std::string& n = item.Name;
    switch (item.Kind) {
    case TOptionKind::okBoolean:
        *static_cast<bool*>(item.Data) = key.readDword(n) != 0;
        break;
    case TOptionKind::okByte:
        *static_cast<uint8_t*>(item.Data) = static_cast<uint8_t>(key.readDword(n));
        break;
    case TOptionKind::okWord:
        *static_cast<uint16_t*>(item.Data) = static_cast<uint16_t>(key.readDword(n));
        break;
    case TOptionKind::okInteger:
        *static_cast<int32_t*>(item.Data) = readInt(key, n);
        break;
    case TOptionKind::okString:
        *static_cast<std::string*>(item.Data) = key.readString(n);
        break;
    case TOptionKind::okFilePath:
        *static_cast<std::string*>(item.Data) = key.readUnicodeString(n);
        break;
    case TOptionKind::okSingle:
        *static_cast<float*>(item.Data) = static_cast<float>(readDouble(key, n));
        break;
    case TOptionKind::okDouble:
        *static_cast<double*>(item.Data) = readDouble(key, n);
        break;
    case TOptionKind::okFont: {
        auto* f = static_cast<TOptionFont*>(item.Data);
        f->Name = key.readString(n + "_Name");
        f->Size = readInt(key, n + "_Size");
        f->Color = key.readDword(n + "_Color");
        f->Bold = key.readDword(n + "_Bold") != 0;
        f->Italic = key.readDword(n + "_Italic") != 0;
        break;
    }
    case TOptionKind::okRect: {
        auto* r = static_cast<TOptionRect*>(item.Data);
        r->Left = readInt(key, n + "_Left");
        r->Top = readInt(key, n + "_Top");
        r->Right = readInt(key, n + "_Right");
        r->Bottom = readInt(key, n + "_Bottom");
        break;
    }
    default:
        throw EOptionsError("Unknown option type");
    }
}

void writeItem(RegistryKey& key, const TOptionsItem& item) {
    const std::string& n = item.Name;
    switch (item.Kind) {
    case TOptionKind::okBoolean:
        key.writeDword(n, *static_cast<bool*>(item.Data) ? 1 : 0);
        break;
    case TOptionKind::okByte:
        key.writeDword(n, *static_cast<uint8_t*>(item.Data));
        break;
    case TOptionKind::okWord:
        key.writeDword(n, *static_cast<uint16_t*>(item.Data));
        break;
    case TOptionKind::okInteger:
        key.writeDword(n, static_cast<uint32_t>(*static_cast<int32_t*>(item.Data)));
        break;
    case TOptionKind::okString:
        key.writeString(n, *static_cast<std::string*>(item.Data));
        break;
    case TOptionKind::okFilePath:
        key.writeUnicodeString(n, *static_cast<std::string*>(item.Data));
        break;
    case TOptionKind::okSingle:
        writeDouble(key, n, *static_cast<float*>(item.Data));
        break;
    case TOptionKind::okDouble:
        writeDouble(key, n, *static_cast<double*>(item.Data));
        break;
    case TOptionKind::okFont: {
        const auto* f = static_cast<TOptionFont*>(item.Data);
        key.writeString(n + "_Name", f->Name);
        key.writeDword(n + "_Size", static_cast<uint32_t>(f->Size));
        key.writeDword(n + "_Color", f->Color);
        key.writeDword(n + "_Bold", f->Bold ? 1 : 0);
        key.writeDword(n + "_Italic", f->Italic ? 1 : 0);
        break;
    }
    case TOptionKind::okRect: {
        const auto* r = static_cast<TOptionRect*>(item.Data);
        key.writeDword(n + "_Left", static_cast<uint32_t>(r->Left));
        key.writeDword(n + "_Top", static_cast<uint32_t>(r->Top));
        key.writeDword(n + "_Right", static_cast<uint32_t>(r->Right));
        key.writeDword(n + "_Bottom", static_cast<uint32_t>(r->Bottom));
        break;
    }
    default:
        throw EOptionsError("Unknown option type");
    }
}

}  // namespace

int TOptionsManager::AddOption(void* Data, TOptionKind Kind, const std::string& Name, const std::string& Section) {
    if (!Data) throw EOptionsError("Option must be assigned");
    auto item = std::make_unique<TOptionsItem>();
    item->Kind = Kind;
    item->Data = Data;
    if (Name.empty()) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "Option%.4d", Count());
        item->Name = buf;
    } else {
        item->Name = Name;
    }
    item->Section = Section.empty() ? "Options" : Section;
    items_.push_back(std::move(item));
    return Count() - 1;
}

int TOptionsManager::AddBoolean(bool* Data, const std::string& Section, const std::string& Name) {
    return AddOption(Data, TOptionKind::okBoolean, Name, Section);
}

int TOptionsManager::AddInteger(int32_t* Data, const std::string& Section, const std::string& Name) {
    return AddOption(Data, TOptionKind::okInteger, Name, Section);
}

int TOptionsManager::AddRect(TOptionRect* Data, const std::string& Section, const std::string& Name) {
    return AddOption(Data, TOptionKind::okRect, Name, Section);
}

int TOptionsManager::AddString(std::string* Data, const std::string& Section, const std::string& Name) {
    return AddOption(Data, TOptionKind::okString, Name, Section);
}

int TOptionsManager::AddFilePath(std::string* Data, const std::string& Section, const std::string& Name) {
    return AddOption(Data, TOptionKind::okFilePath, Name, Section);
}

TOptionsItem* TOptionsManager::Items(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return items_[static_cast<size_t>(Index)].get();
}

void TOptionsManager::LoadFromRegistry(const std::string& BaseKey) {
    for (const auto& item : items_) {
        auto key = RegistryKey::openExisting(BaseKey + "\\" + item->Section);
        if (!key) continue;
        try {
            readItem(*key, *item);
        } catch (const std::exception&) {
            // An unreadable value leaves its variable as it was.
        }
    }
}

void TOptionsManager::SaveToRegistry(const std::string& BaseKey) {
    for (const auto& item : items_) {
        const std::string path = BaseKey + "\\" + item->Section;
        auto key = RegistryKey::openCreate(path);
        if (!key) throw EOptionsError("Cannot open registry key " + path);
        if (!knownKind(item->Kind)) throw EOptionsError("Unknown option type");
        writeItem(*key, *item);
        key->close();
    }
}

namespace options {

std::string SetupName;
bool MaskPasswords;
std::string TestEmailRecipients;
std::string TestEmailSubject;
std::string TestEmailBody;
std::string TestContentType;
bool LoadAtStartup;
bool SaveAtShutdown;
bool AutoSave;
int32_t AutoSavePeriod;
bool AutoStartMailer;
bool WarnBeforeFirstMail;
bool LogMailerActivity;
bool LogLimitSize;
int32_t LogMaxSize;
bool SortByDomain;
bool ContactInfoHoover;
bool KeepUnsubscribed;
TOptionRect MainWindow;
int32_t Identity;
int32_t FoldersWidth;
int32_t MessagesHeight;
TOptionRect MainBounds;
bool MainStored;
int32_t MailMaxSize;

void ResetToDefaults() {
    SetupName.clear();
    MaskPasswords = true;
    TestEmailRecipients = "recipient@example.com";
    TestEmailSubject = "Test email subject";
    TestEmailBody = "Test email body";
    TestContentType = "text/plain";
    LoadAtStartup = true;
    SaveAtShutdown = true;
    AutoSave = false;
    AutoSavePeriod = 10;
    AutoStartMailer = false;
    WarnBeforeFirstMail = true;
    LogMailerActivity = true;
    LogLimitSize = true;
    LogMaxSize = 500;
    SortByDomain = true;
    ContactInfoHoover = false;
    KeepUnsubscribed = false;
    // The window replaces this with 800 by 600 centred on the screen before loading.
    MainWindow = TOptionRect{0, 0, 800, 600};
    Identity = -1;
    FoldersWidth = 120;
    MessagesHeight = 110;
    MainBounds = TOptionRect{};
    MainStored = false;
    MailMaxSize = 51200;
}

namespace {
const bool defaultsSet = (ResetToDefaults(), true);
}

void RegisterOptions(TOptionsManager& m) {
    m.AddFilePath(&SetupName, "Setup", "SetupName");
    m.AddBoolean(&MaskPasswords, "Prefs", "MaskPasswords");
    m.AddString(&TestEmailRecipients, "Testdata", "TestEmailRecipients");
    m.AddString(&TestEmailSubject, "Testdata", "TestEmailSubject");
    m.AddString(&TestEmailBody, "Testdata", "TestEmailBody");
    m.AddString(&TestContentType, "Testdata", "TestContentType");
    m.AddBoolean(&LoadAtStartup, "Filing", "LoadAtStartup");
    m.AddBoolean(&SaveAtShutdown, "Filing", "SaveAtShutdown");
    m.AddBoolean(&AutoSave, "Filing", "AutoSave");
    m.AddInteger(&AutoSavePeriod, "Filing", "AutoSavePeriod");
    m.AddBoolean(&AutoStartMailer, "Mailing", "AutoStartMailer");
    m.AddBoolean(&WarnBeforeFirstMail, "Mailing", "WarnBeforeFirstMail");
    m.AddBoolean(&LogMailerActivity, "Mailing", "LogMailerActivity");
    m.AddBoolean(&LogLimitSize, "Mailing", "LogLimitSize");
    m.AddInteger(&LogMaxSize, "Mailing", "LogMaxSize");
    m.AddBoolean(&SortByDomain, "Contacts", "SortByDomain");
    m.AddBoolean(&ContactInfoHoover, "Contacts", "ContactInfoHoover");
    m.AddBoolean(&KeepUnsubscribed, "Contacts", "KeepUnsubscribed");
    m.AddRect(&MainWindow, "Interface", "MainWindow");
    m.AddInteger(&Identity, "OEImport", "Identity");
    m.AddInteger(&FoldersWidth, "OEImport", "FoldersWidth");
    m.AddInteger(&MessagesHeight, "OEImport", "MessagesHeight");
    m.AddRect(&MainBounds, "OEImport", "MainBounds");
    m.AddBoolean(&MainStored, "OEImport", "MainStored");
    m.AddInteger(&MailMaxSize, "Mailing", "MailMaxSize");
}

}  // namespace options
