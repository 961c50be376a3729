#pragma once

#include "SimReply.h"

#include <QJsonObject>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// The store server's side of the simulator: login with one demo account,
// trade reports, visitor uids, visitor registration and probe uploads.
// Every method takes the request as it arrived and returns the answer; the
// HTTP server only passes them through. Safe to call from several threads.
class StoreSim
{
public:
    struct Settings
    {
        std::string userName = "demo";
        std::string password = "demo";
        std::string brandId = "brand-demo";
        // "userType" of every visitor record; the library tells members
        // from visitors by this text.
        std::string userType = "非会员";
        // Accepted probe uploads are kept here as CSV files.
        std::string dataDir = "store-sim-data";
    };

    explicit StoreSim(Settings settings);

    SimReply login(const std::string &body);
    SimReply trade(const std::string &token, const std::string &body);
    SimReply requestUid(const std::string &token, const std::string &body);
    SimReply registerUser(const std::string &token, const std::string &body);
    SimReply probeUpload(const std::string &body);

    // Counts of what was accepted and refused so far.
    QJsonObject summary() const;

    // Probe records are lines ending in CR LF; a stamped one ends in
    // "|" and the time in milliseconds.
    static int countLines(const std::string &csv, int *stamped = nullptr);

private:
    struct Visitor
    {
        int visits = 0;
        std::string firstVisit;
        std::string lastVisit;
    };

    bool validToken(const std::string &token) const;
    // A valid token and a JSON object body with the store number, or the refusal.
    bool admit(const char *exchange, const std::string &token, const std::string &body, QJsonObject &request,
               SimReply &refusal);
    SimReply refuseToken(const char *exchange, const std::string &token);
    SimReply badRequest(const char *exchange, const std::string &reason);
    std::string keepProbeFile(const std::string &store, const std::string &csv);

    Settings m_settings;
    mutable std::mutex m_mutex;
    std::set<std::string> m_tokens;
    std::map<std::string, Visitor> m_visitors; // by uid, once issued
    int m_nextUid = 1;
    int m_nextFile = 1;
    int m_loginsAccepted = 0;
    int m_loginsRefused = 0;
    int m_tradesAccepted = 0;
    int m_tokensRefused = 0;
    int m_registrations = 0;
    int m_recognisedAgain = 0;
    int m_probeUploads = 0;
    int64_t m_probeLines = 0;
    std::vector<std::string> m_probeFiles;
    int m_badRequests = 0;
};
