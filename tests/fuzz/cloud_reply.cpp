// The cloud face service's replies: the token reply, and the search and add
// replies read for their error code and best match. Every reading runs on
// every input: a body that is one reply's shape may arrive as another's.
#include "CloudProtocol.h"
#include "StoreProtocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), static_cast<int>(size));
    CloudProtocol::accessToken(reply);
    const QJsonObject object = StoreProtocol::replyObject(reply);
    const int code = CloudProtocol::errorCode(object);
    const CloudProtocol::Step step = CloudProtocol::stepFor(code);
    if ((code == 0) != (step == CloudProtocol::Step::Continue))
        abort();
    // A search also goes on with "match user is not found".
    const bool searchGoesOn = code == 0 || code == CloudProtocol::noMatchingUser;
    if (searchGoesOn != (CloudProtocol::searchStepFor(code) == CloudProtocol::Step::Continue))
        abort();
    CloudProtocol::bestMatch(object);
    return 0;
}
