// The trade outbox's journals, which anyone of the store's group can write
// into data/: any bytes parse without a crash, every trade read back is one
// its own line would write again, and the trades held are unique.
#include "TradeJournalFormat.h"

#include <cstdlib>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const TradeJournalFormat::Contents contents = TradeJournalFormat::parse(TradeJournalFormat::header() + bytes);
    for (const TradeJournalFormat::Line &line : contents.lines) {
        if (!TradeJournalFormat::isKey(line.trade.key))
            abort();
        if (line.taken && !bytes.contains(TradeJournalFormat::takenLine(line.trade)))
            abort();
    }
    std::set<QByteArray> keys;
    for (const TradeJournalFormat::Trade &trade : TradeJournalFormat::held({contents, contents})) {
        if (!keys.insert(trade.key).second)
            abort();
    }
    return 0;
}
