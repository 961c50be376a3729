#include "SimOptions.h"

#include <cstdlib>
#include <map>

namespace {

bool readNumber(const std::string &text, double low, double high, double &value)
{
    char *end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || number < low || number > high)
        return false;
    value = number;
    return true;
}

} // namespace

bool SimOptions::parse(const std::vector<std::string> &arguments, std::string &error)
{
    const std::map<std::string, std::string *> texts{
        {"--cert", &certFile},         {"--key", &keyFile},           {"--user", &userName},
        {"--password", &password},     {"--user-type", &userType},    {"--data-dir", &dataDir},
        {"--port-file", &portFile},    {"--summary-file", &summaryFile}, {"--login-path", &loginPath},
        {"--trade-path", &tradePath},  {"--uid-path", &uidPath},      {"--user-path", &userPath},
        {"--probe-path", &probePath},  {"--token-path", &tokenPath},  {"--search-path", &searchPath},
        {"--add-path", &addPath},      {"--summary-path", &summaryPath}};
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            help = true;
            continue;
        }
        if (name == "--https") {
            https = true;
            continue;
        }
        const bool known =
            texts.count(name) || name == "--port" || name == "--recognition-score" || name == "--qps";
        if (!known) {
            error = "unknown option " + name;
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return false;
            }
            value = arguments[++i];
        }
        double number = 0;
        if (name == "--port") {
            if (!readNumber(value, 0, 65535, number) || number != static_cast<int>(number)) {
                error = "--port takes a number from 0 to 65535";
                return false;
            }
            port = static_cast<int>(number);
        } else if (name == "--recognition-score") {
            if (!readNumber(value, 0, 100, number)) {
                error = "--recognition-score takes a number from 0 to 100";
                return false;
            }
            recognitionScore = number;
        } else if (name == "--qps") {
            if (!readNumber(value, 0, 1000000, number) || number != static_cast<int>(number)) {
                error = "--qps takes a whole number from 0";
                return false;
            }
            requestsPerSecond = static_cast<int>(number);
        } else {
            *texts.at(name) = value;
        }
    }
    if (certFile.empty() != keyFile.empty()) {
        error = "--cert and --key go together";
        return false;
    }
    if (!certFile.empty())
        https = true;
    for (const std::string *path : {&loginPath, &tradePath, &uidPath, &userPath, &probePath, &tokenPath,
                                    &searchPath, &addPath, &summaryPath}) {
        if (path->empty() || (*path)[0] != '/') {
            error = "paths start with \"/\": " + *path;
            return false;
        }
    }
    return true;
}

std::string SimOptions::usage()
{
    return R"(nerova_store_sim - a store server and cloud face service for developing and
trying out nerova hosts, on 127.0.0.1 only.

Usage: nerova_store_sim [options]

  --port N               port to listen on (default 18080; 0 picks a free one)
  --https                serve HTTPS with a self-signed certificate made at start
                         (needs the openssl program)
  --cert FILE --key FILE serve HTTPS with this certificate and key (PEM)
  --user NAME            the demo account's user name (default demo)
  --password TEXT        the demo account's password (default demo)
  --user-type TEXT       "userType" of the visitor records (default "非会员", the
                         library's "Not member" as lang/zh-CN.lng translates it;
                         any other text makes the visitor a member)
  --data-dir DIR         where accepted probe uploads are kept as CSV files
                         (default store-sim-data)
  --port-file FILE       write the port here once listening
  --summary-file FILE    write the summary as JSON here on exit
  --recognition-score N  searches scoring at least N count as recognitions in
                         the summary (default 80)
  --qps N                face searches and adds allowed per second; more are
                         refused with error 18 "Open api qps request limit
                         reached", as the service does (default 0: no limit)
  --login-path P   --trade-path P   --uid-path P   --user-path P   --probe-path P
                         store server paths (defaults /api/login, /api/trade,
                         /api/uid, /api/user, /api/probe: those of conf/default.ini)
  --token-path P   --search-path P   --add-path P
                         cloud face service paths (defaults /oauth/2.0/token,
                         /rest/2.0/face/v3/search, /rest/2.0/face/v3/faceset/user/add)
  --summary-path P       GET here answers the summary as JSON (default /sim/summary)
  --help                 this text

At start it prints the [Server] and [Baidu] settings of conf/default.ini that
point a library at it. Every exchange prints one line. SIGUSR1 prints the
summary; SIGINT or SIGTERM prints it and ends the simulator.
)";
}
