#include "mailtext/HtmlHelpers.h"
#include "model/cvSetup.h"

TcvMessage::TcvMessage() = default;

void TcvMessage::Changed() {
    if (!Group) return;
    Group->Changed();
    if (Group->Setup) Group->Setup->MessagesChanged();
}

void TcvMessage::SetCode(const std::string& code) {
    if (code == Code) return;
    Code = code;
    Changed();
}

void TcvMessage::SetTitle(const std::string& title) {
    if (title == Title) return;
    Title = title;
    Code = UniqueCode(CodePrefixOf(title), Group ? Group->MessageCodesExcept(this) : std::string());
    Changed();
}

std::string TcvMessage::GetSender() const {
    if (!Sender.empty()) return Sender;
    if (Group && Group->Account) return Group->Account->Sender;
    return {};
}

std::string TcvMessage::HtmlView() const { return BodyHtml.empty() ? mailtext::TextToHtml(BodyPlain) : BodyHtml; }

double TcvMessage::TriggerDelay() const {
    const int unit = static_cast<int>(TriggerUnit);
    const int32_t seconds = unit >= 0 && unit < 7 ? UnitSeconds[unit] : 0;
    // The product is kept in 32 bits as the stored setups have always had it: amounts beyond
    // about 68 years of seconds wrap.
    const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(TriggerAmount) * static_cast<uint32_t>(seconds));
    return product / 86400.0;
}

void TcvMessage::CheckAllSent() {
    if (Status != TcvMessageStatus::Live || Mode != TcvMessageMode::OneTime || !Group) return;
    for (int i = 0; i < Group->ContactCount(); ++i)
        if (!Group->Contacts(i)->FindHistory(Code)) return;
    Status = TcvMessageStatus::Sent;
}
