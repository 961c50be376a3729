// The reading of outside JSON against Qt's own: the same refusal for any
// text within the limits, and the same document for text without repeated
// member names (with them, Qt's parser leaks and may even keep an earlier
// member, the reason JsonText exists). Small limits, so that the fuzzer
// reaches them: text beyond them is refused, and what is read stays within
// them. This target alone runs without leak checks; the reply targets check
// that JsonText itself does not leak.
#include "JsonText.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cstdlib>

extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

namespace {

JsonText::Limits fuzzLimits()
{
    JsonText::Limits limits;
    limits.maxBytes = 2048;
    limits.maxDepth = 6;
    limits.maxMembers = 24;
    return limits;
}

// The depth and the members and elements, in all, of a document Qt read.
struct Shape
{
    int depth = 0;
    int members = 0;
};

Shape shapeOf(const QJsonValue &value)
{
    Shape shape;
    if (!value.isArray() && !value.isObject())
        return shape;
    const auto add = [&shape](const QJsonValue &inner) {
        const Shape innerShape = shapeOf(inner);
        shape.depth = std::max(shape.depth, innerShape.depth);
        shape.members += 1 + innerShape.members;
    };
    if (value.isArray()) {
        for (const QJsonValue &element : value.toArray())
            add(element);
    } else {
        for (const QJsonValue &member : value.toObject())
            add(member);
    }
    ++shape.depth;
    return shape;
}

Shape shapeOf(const QJsonDocument &document)
{
    return shapeOf(document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const JsonText::Limits limits = fuzzLimits();
    QString refusal;
    const QJsonDocument ours = JsonText::parse(text, limits, &refusal);
    const QJsonDocument qts = QJsonDocument::fromJson(text);
    const bool repeats = JsonText::withoutRepeatedMembers(text) != text;
    if (!refusal.isEmpty()) {
        // Refused: it is null, and no smaller Qt reading could have passed,
        // unless names repeat (Qt then holds fewer members than the text).
        const Shape shape = shapeOf(qts);
        const bool beyond = text.size() > limits.maxBytes || shape.depth > limits.maxDepth
            || shape.members > limits.maxMembers || repeats || qts.isNull();
        if (!ours.isNull() || !beyond)
            abort();
        return 0;
    }
    if (ours.isNull() != qts.isNull())
        abort();
    const Shape shape = shapeOf(ours);
    if (!ours.isNull() && (shape.depth > limits.maxDepth || shape.members > limits.maxMembers))
        abort();
    if (!repeats && ours != qts)
        abort();
    return 0;
}
