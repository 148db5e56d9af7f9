#pragma once
// The text a reader sees in an HTML document: tags dropped, blocks on lines of their own, entities
// resolved, scripts and styles left out.
#include <string>
#include <string_view>

namespace mailtext {

// The HTML is 8-bit text in the system code page, whatever a <meta> charset in it says; the result
// is in the code page too, its lines ended by CR LF. Never throws for malformed HTML.
std::string htmlToText(std::string_view html);

}  // namespace mailtext
