#include "platform/system/Localize.h"

#include <atomic>

namespace mv {

static std::atomic<Translator> gTranslator{nullptr};

void setTranslator(Translator t) { gTranslator = t; }

std::string localized(const char* table, const std::string& key)
{
    Translator t = gTranslator;
    return t ? t(table, key) : key;
}

} // namespace mv
