#include "CloudCredentials.h"

QString CloudCredentials::clientId()
{
    return QStringLiteral(NEROVA_CLOUD_CLIENT_ID);
}

QString CloudCredentials::clientSecret()
{
    return QStringLiteral(NEROVA_CLOUD_CLIENT_SECRET);
}
