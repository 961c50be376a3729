// Reading 4 MB replies: a hostile one made of one member name repeated
// (refused at the member limit), hostile ones within the limits (objects
// of repeated names, each right at the limit; deep nesting), and a normal
// one (a long list of labels).
#include "JsonText.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int replyBytes = 4 * 1024 * 1024;

QByteArray repeatedName(int members)
{
    QByteArray text = "{\"a\":0";
    for (int i = 1; i < members; ++i)
        text += ",\"a\":" + QByteArray::number(i % 10);
    return text + '}';
}

QByteArray oneObjectOfRepeatedNames()
{
    return repeatedName((replyBytes - 2) / 6);
}

QByteArray objectsAtTheMemberLimit()
{
    const QByteArray object = repeatedName(JsonText::Limits().maxMembers);
    QByteArray text = "[" + object;
    while (text.size() + object.size() + 2 < replyBytes)
        text += ',' + object;
    return text + ']';
}

QByteArray deeplyNestedLists()
{
    const QByteArray nested = QByteArray(60, '[') + QByteArray(60, ']');
    QByteArray text = "[" + nested;
    while (text.size() + nested.size() + 2 < replyBytes)
        text += ',' + nested;
    return text + ']';
}

QByteArray manyLabels()
{
    QByteArray text = R"({"state":0,"token":"t","brandLabelList":[)";
    for (int i = 0; text.size() < replyBytes - 100; ++i)
        text += (i ? "," : "") + QByteArray(R"({"labelId":)") + QByteArray::number(i) + R"(,"labelName":"Label )"
            + QByteArray::number(i) + "\"}";
    return text + "]}";
}

void parse(benchmark::State &state, const QByteArray &text)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(JsonText::parse(text));
    state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_RepeatedNameRefused(benchmark::State &state)
{
    parse(state, oneObjectOfRepeatedNames());
}
BENCHMARK(BM_RepeatedNameRefused)->Unit(benchmark::kMillisecond);

void BM_RepeatedNamesWithinLimits(benchmark::State &state)
{
    parse(state, objectsAtTheMemberLimit());
}
BENCHMARK(BM_RepeatedNamesWithinLimits)->Unit(benchmark::kMillisecond);

void BM_DeepNestingWithinLimits(benchmark::State &state)
{
    parse(state, deeplyNestedLists());
}
BENCHMARK(BM_DeepNestingWithinLimits)->Unit(benchmark::kMillisecond);

void BM_NormalLabelList(benchmark::State &state)
{
    parse(state, manyLabels());
}
BENCHMARK(BM_NormalLabelList)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
