#pragma once

#include "FakeStoreServer.h"

#include <QString>

#include <string>

// A cloud face service for the tests on 127.0.0.1: token, face search and
// face add, answered from the test's script with the reply shapes the real
// service documents, every request recorded.
class FakeFaceCloud : public FakeStoreServer
{
public:
    static constexpr const char *tokenPath = "/oauth/2.0/token";
    static constexpr const char *searchPath = "/rest/2.0/face/v3/search";
    static constexpr const char *addPath = "/rest/2.0/face/v3/faceset/user/add";

    using FakeStoreServer::FakeStoreServer;

    // The Baidu group of the configuration, pointing at this service.
    QString configGroup(const QString &group = "store-7", int threshold = 80) const;

    static std::string tokenReply(const std::string &accessToken);
    // A successful search whose best match is userId with score.
    static std::string searchReply(const std::string &userId, double score);
    static std::string addReply();
    static std::string errorReply(int errorCode);
};
