// What NV_ReportData costs the caller to keep a trade: one append to the
// outbox's journal under its lock, never a sync (the disk worker syncs
// about once a second). Measured with one reporting thread and with four
// at once, and the cost of taking an answered trade out.
#include "TradeOutbox.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A trade as a till reports it, about 200 bytes of indented JSON.
const QByteArray tradeBody = "{\n    \"amount\": 128.5,\n    \"items\": [\n        \"SKU-000123\",\n"
                             "        \"SKU-004567\"\n    ],\n    \"mac\": \"STORE-0001\",\n"
                             "    \"mobilePhone\": \"13912345678\",\n    \"till\": 3\n}\n";

QTemporaryDir *directory = nullptr;
TradeOutbox *outbox = nullptr;

void openOutbox(const benchmark::State &state)
{
    if (state.thread_index() != 0)
        return;
    directory = new QTemporaryDir;
    outbox = new TradeOutbox(directory->path(), TradeOutboxLimits{1LL << 40}, TradeOutbox::ErrorSink());
}

void closeOutbox(const benchmark::State &state)
{
    if (state.thread_index() != 0)
        return;
    delete outbox;
    delete directory;
}

void BM_TradeAdd(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(outbox->add(tradeBody, 1 << 30));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TradeAdd)->Setup(openOutbox)->Teardown(closeOutbox)->Iterations(50000)->Threads(1)->Threads(4)->UseRealTime();

void BM_TradeAnswered(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        outbox->add(tradeBody, 1 << 30);
        const QByteArray key = outbox->oldest(1).front().key;
        state.ResumeTiming();
        outbox->remove(key);
    }
}
BENCHMARK(BM_TradeAnswered)->Setup(openOutbox)->Teardown(closeOutbox)->Iterations(20000);

} // namespace

BENCHMARK_MAIN();
