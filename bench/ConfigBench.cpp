#include "NerovaConfig.h"

#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>

// Reading the whole configuration, as every change of the file does.
static void BM_ReadConfiguration(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/default.ini";
    std::ofstream(file.toStdString()) << "[Server]\nServer=http://127.0.0.1:8080\nTradeUrl=/trade\n"
                                         "[Face]\nFaceThreshold=70\n[Nerova]\nDeviceId=S1\n";
    QSettings settings(file, QSettings::IniFormat);
    for (auto _ : state) {
        NerovaConfig config = NerovaConfig::read(settings);
        benchmark::DoNotOptimize(config);
    }
}
BENCHMARK(BM_ReadConfiguration);

BENCHMARK_MAIN();
