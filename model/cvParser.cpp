#include "model/cvSetup.h"

TcvParser::TcvParser() = default;
TcvParser::~TcvParser() = default;

void TcvParser::Changed() {
    if (!Group) return;
    Group->Changed();
    if (Group->Setup) Group->Setup->ParsersChanged();
}

void TcvParser::SetName(const std::string& name) {
    if (name == Name) return;
    Name = name;
    Changed();
}

double TcvParser::CheckIntervalDays() const { return Account ? Account->CheckInterval / 86400.0 : 0; }
