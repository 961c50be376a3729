// Reading 4 MB replies: a hostile one made of one member name repeated
// (refused at the member limit), hostile ones just within the limits
// (repeated long names; nesting to the deepest level), and a normal one
// (labels with long texts).
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

// As many members as the limit allows, their one long name filling 4 MB.
QByteArray repeatedLongNames()
{
    const int members = JsonText::Limits().maxMembers;
    const QByteArray name = '"' + QByteArray(replyBytes / members - 8, 'n') + "\":";
    QByteArray text = "{" + name + '0';
    for (int i = 1; i < members; ++i)
        text += ',' + name + QByteArray::number(i % 10);
    return text + '}';
}

// Lists nested to the deepest level, as many as the member limit allows.
QByteArray deeplyNestedLists()
{
    const int depth = JsonText::Limits().maxDepth - 1;
    const QByteArray nested = QByteArray(depth, '[') + "\"" + QByteArray(replyBytes / 3500, 'x') + "\""
        + QByteArray(depth, ']');
    QByteArray text = "[" + nested;
    for (int lists = 1; (lists + 1) * (depth + 1) < JsonText::Limits().maxMembers; ++lists)
        text += ',' + nested;
    return text + ']';
}

QByteArray manyLabels()
{
    QByteArray text = R"({"state":0,"token":"t","brandLabelList":[)";
    const QByteArray description(180, 'd');
    for (int i = 0; text.size() < replyBytes - 300; ++i)
        text += (i ? "," : "") + QByteArray(R"({"labelId":)") + QByteArray::number(i) + R"(,"labelName":"Label )"
            + QByteArray::number(i) + ' ' + description + "\"}";
    return text + "]}";
}

void parse(benchmark::State &state, const QByteArray &text, bool refused = false)
{
    if (JsonText::parse(text).isNull() != refused)
        state.SkipWithError(refused ? "read, not refused" : "refused, not read");
    for (auto _ : state)
        benchmark::DoNotOptimize(JsonText::parse(text));
    state.SetBytesProcessed(state.iterations() * text.size());
    state.counters["bytes"] = text.size();
}

void BM_RepeatedNameRefused(benchmark::State &state)
{
    parse(state, oneObjectOfRepeatedNames(), true);
}
BENCHMARK(BM_RepeatedNameRefused)->Unit(benchmark::kMillisecond);

void BM_RepeatedNamesWithinLimits(benchmark::State &state)
{
    parse(state, repeatedLongNames());
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
