// The reading of outside JSON against Qt's own: the same document, or the
// same refusal, for any text. Qt's parser leaks on some of these texts (the
// reason JsonText exists), so this target alone runs without leak checks;
// the reply targets check that JsonText itself does not leak.
#include "JsonText.h"

#include <cstdlib>

extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    if (JsonText::parse(text) != QJsonDocument::fromJson(text))
        abort();
    return 0;
}
