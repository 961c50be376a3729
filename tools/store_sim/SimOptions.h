#pragma once

#include <string>
#include <vector>

// The simulator's command line.
struct SimOptions
{
    int port = 18080; // 0: any free port
    bool https = false;
    std::string certFile; // with keyFile: serve HTTPS with these instead of a fresh self-signed pair
    std::string keyFile;
    std::string userName = "demo";
    std::string password = "demo";
    std::string userType = "非会员"; // the translated "Not member" of lang/zh-CN.lng
    std::string dataDir = "store-sim-data";
    std::string portFile;    // the port is written here once listening
    std::string summaryFile; // the summary (JSON) is written here on exit
    double recognitionScore = 80;
    int requestsPerSecond = 0; // face searches and adds a second; 0: no limit

    std::string loginPath = "/api/login";
    std::string tradePath = "/api/trade";
    std::string uidPath = "/api/uid";
    std::string userPath = "/api/user";
    std::string probePath = "/api/probe";
    std::string tokenPath = "/oauth/2.0/token";
    std::string searchPath = "/rest/2.0/face/v3/search";
    std::string addPath = "/rest/2.0/face/v3/faceset/user/add";
    std::string summaryPath = "/sim/summary";

    bool help = false;

    // Reads the arguments (without the program name); false with a reason
    // in error on an unknown option or a bad value.
    bool parse(const std::vector<std::string> &arguments, std::string &error);
    static std::string usage();
};
