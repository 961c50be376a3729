#pragma once

#include <QString>

// The cloud face service's client credentials, fixed when the library is
// built (the CMake cache variables NEROVA_CLOUD_CLIENT_ID and
// NEROVA_CLOUD_CLIENT_SECRET).
namespace CloudCredentials {

QString clientId();
QString clientSecret();

} // namespace CloudCredentials
