#pragma once
// Interface texts are looked up with the English text as key; a missing key
// shows as itself. The window installs its translator; batch mode and tests
// keep the English texts.
#include <string>

namespace mv {

using Translator = std::string (*)(const char* table, const std::string& key);

void setTranslator(Translator t);
std::string localized(const char* table, const std::string& key);
inline std::string windowText(const std::string& key) { return localized("MVWindow", key); }

} // namespace mv
