// The reading of outside JSON against Qt's own: the same refusal for any
// text, and the same document for text without repeated member names (with
// them, Qt's parser leaks and may even keep an earlier member, the reason
// JsonText exists). This target alone runs without leak checks; the reply
// targets check that JsonText itself does not leak.
#include "JsonText.h"

#include <cstdlib>

extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QJsonDocument ours = JsonText::parse(text);
    const QJsonDocument qts = QJsonDocument::fromJson(text);
    if (ours.isNull() != qts.isNull())
        abort();
    if (JsonText::withoutRepeatedMembers(text) == text && ours != qts)
        abort();
    return 0;
}
