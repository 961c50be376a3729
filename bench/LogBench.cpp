// What the workers pay on every call into the worker base: a log line at a
// level the configuration switched off, and a configuration snapshot; and
// what making a 4 MB reply safe for the log costs, for ordinary and for
// hostile texts (the time must grow with the length alone).
#include "LogText.h"
#include "NerovaBase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <log4cxx/logmanager.h>

namespace {

NerovaBase *base = nullptr;

void writeInstallation(const QString &root, const QString &loggerLine)
{
    QDir(root).mkpath("conf");
    QFile file(root + "/conf/default.ini");
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QString("[Face]\nFaceThreshold=70\n[Log]\n"
                       "log4j.rootLogger=INFO, file\n%1\n"
                       "log4j.appender.file=org.apache.log4j.FileAppender\n"
                       "log4j.appender.file.File=bench\n"
                       "log4j.appender.file.layout=org.apache.log4j.SimpleLayout\n")
                   .arg(loggerLine)
                   .toUtf8());
}

void BM_TraceAtDisabledLevel(benchmark::State &state)
{
    const QString text = QStringLiteral("Face found, score 87");
    for (auto _ : state)
        base->logTrace(text);
}
BENCHMARK(BM_TraceAtDisabledLevel);

void BM_ConfigSnapshot(benchmark::State &state)
{
    for (auto _ : state) {
        const auto config = base->config();
        benchmark::DoNotOptimize(config->faceThreshold);
    }
}
BENCHMARK(BM_ConfigSnapshot)->Threads(1)->Threads(2);

QString repeatedTo(const QString &piece, int length)
{
    QString text;
    text.reserve(length + piece.size());
    while (text.size() < length)
        text += piece;
    return text;
}

const QStringList hostilePieces = {
    QStringLiteral("{\"name\":\"Li Lei\",\"mobilePhone\":\"13812345678\",\"token\":\"abc\"},"),
    QStringLiteral("a://"),
    QStringLiteral("\"token\":\"\\"),
    QStringLiteral("x?a=b&"),
    QStringLiteral("1"),
    QStringLiteral("a"),
    QStringLiteral("token=token=\n"),
};

// Argument 0: the piece; 1: the length in characters.
void BM_SafeLogText(benchmark::State &state)
{
    const QString text = repeatedTo(hostilePieces.at(state.range(0)), state.range(1));
    LogSecrets::Known known;
    known.secrets = {QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaab"), QStringLiteral("Tok3nValue")};
    for (auto _ : state)
        benchmark::DoNotOptimize(LogText::safe(text, known));
    state.SetBytesProcessed(state.iterations() * state.range(1) * 2);
}
BENCHMARK(BM_SafeLogText)
    ->ArgsProduct({benchmark::CreateDenseRange(0, 6, 1), {1 << 20, 4 << 20}})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    // A named logger ("log4j.logger.face") is looked up by name on every line.
    writeInstallation(dir.path(), "log4j.logger.face=INFO");
    qputenv("NEROVA_HOME", dir.path().toLocal8Bit());
    {
        NerovaBase nerovaBase;
        base = &nerovaBase;
        benchmark::RunSpecifiedBenchmarks();
        base = nullptr;
    }
    log4cxx::LogManager::resetConfiguration();
    return 0;
}
