#pragma once
// Copy and paste of groups, messages, parsers and contacts through the clipboard. Every copy is
// one XML document as plain text: a group, message or parser in its own element (root named after
// its class), contacts as a "Contacts" element with one "Contact" child each.
#include <string>
#include <vector>

class TcvContact;
class TcvGroup;
class TcvMessage;
class TcvParser;
class TcvSetup;

namespace clipboard {

// The clipboard's plain text in the code page of the model; empty when it holds none.
std::string Text();
void SetText(const std::string& text);
bool HasText();

// Reads a group from the text, gives it and its parsers the accounts at their stored positions in
// this setup (none outside the list), and adds it to the setup. Raises the XML layer's error for
// text that is not XML; then nothing is added. A document of another kind adds a default group.
TcvGroup* PasteGroup(TcvSetup& setup, const std::string& text);
// The same for a message of the group.
TcvMessage* PasteMessage(TcvGroup& group, const std::string& text);
// The same for a parser of the group, whose account is taken from the group's setup.
TcvParser* PasteParser(TcvGroup& group, const std::string& text);

// The contacts as an indented "Contacts" document.
std::string ContactsText(const std::vector<TcvContact*>& contacts);
// Adds every "Contact" of a "Contacts" document to the group, in document order; returns how many
// were added. Any other text adds nothing and raises nothing.
int PasteContacts(TcvGroup& group, const std::string& text);

}  // namespace clipboard
