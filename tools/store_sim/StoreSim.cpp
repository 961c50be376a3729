#include "StoreSim.h"

#include "Gunzip.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

constexpr size_t maxProbeBytes = 64 * 1024 * 1024;

std::string now()
{
    return QDateTime::currentDateTime().toString(Qt::ISODate).toStdString();
}

std::string newToken()
{
    std::random_device random;
    char text[40];
    snprintf(text, sizeof text, "tok-%08x%08x", random(), random());
    return text;
}

QJsonArray demoLabels()
{
    QJsonArray labels;
    const char *names[] = {"Regular", "New customer", "VIP"};
    for (int i = 0; i < 3; ++i)
        labels.append(QJsonObject{{"labelId", QString::number(i + 1)}, {"labelName", names[i]}});
    return labels;
}

// A store number as part of a file name: letters, digits, "-" and "_" kept.
std::string fileSafe(const std::string &text)
{
    std::string safe;
    for (char c : text)
        safe += (isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return safe.empty() ? "store" : safe.substr(0, 64);
}

} // namespace

StoreSim::StoreSim(Settings settings) : m_settings(std::move(settings)) {}

SimReply StoreSim::badRequest(const char *exchange, const std::string &reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_badRequests;
    return SimReply::json({{"state", 400}, {"msg", QString::fromStdString(reason)}},
                          std::string(exchange) + ": bad request, " + reason, 400);
}

bool StoreSim::validToken(const std::string &token) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tokens.count(token) > 0;
}

SimReply StoreSim::refuseToken(const char *exchange, const std::string &token)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_tokensRefused;
    return SimReply::json({{"state", 401}, {"msg", "invalid token"}},
                          std::string(exchange) + ": refused, invalid token \"" + token + "\"");
}

bool StoreSim::admit(const char *exchange, const std::string &token, const std::string &body, QJsonObject &request,
                     SimReply &refusal)
{
    if (!validToken(token))
        refusal = refuseToken(exchange, token);
    else if (!parseJsonObject(body, request))
        refusal = badRequest(exchange, "the body is not a JSON object");
    else if (memberText(request, "mac").empty())
        refusal = badRequest(exchange, "\"mac\" (the store number) is missing");
    else
        return true;
    return false;
}

SimReply StoreSim::login(const std::string &body)
{
    QJsonObject request;
    if (!parseJsonObject(body, request))
        return badRequest("login", "the body is not a JSON object");
    const std::string store = memberText(request, "mac");
    const std::string user = memberText(request, "userName");
    if (store.empty())
        return badRequest("login", "\"mac\" (the store number) is missing");
    std::lock_guard<std::mutex> lock(m_mutex);
    if (user != m_settings.userName || memberText(request, "passWord") != m_settings.password) {
        ++m_loginsRefused;
        return SimReply::json({{"state", 1001}, {"msg", "wrong user name or password"}},
                              "login: refused user \"" + user + "\" of store " + store);
    }
    const std::string token = newToken();
    m_tokens.insert(token);
    ++m_loginsAccepted;
    return SimReply::json({{"state", 0},
                           {"msg", "ok"},
                           {"token", QString::fromStdString(token)},
                           {"brandId", QString::fromStdString(m_settings.brandId)},
                           {"brandLabelList", demoLabels()}},
                          "login: user \"" + user + "\" of store " + store + " accepted");
}

SimReply StoreSim::trade(const std::string &token, const std::string &body)
{
    QJsonObject request;
    SimReply refusal;
    if (!admit("trade", token, body, request, refusal))
        return refusal;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_tradesAccepted;
    const std::string phone = memberText(request, "mobilePhone");
    return SimReply::json({{"state", 0}, {"msg", "trade accepted"}},
                          "trade: accepted from store " + memberText(request, "mac")
                              + (phone.empty() ? std::string(", no mobile phone") : ", mobile phone " + phone));
}

SimReply StoreSim::requestUid(const std::string &token, const std::string &body)
{
    QJsonObject request;
    SimReply refusal;
    if (!admit("uid", token, body, request, refusal))
        return refusal;
    std::lock_guard<std::mutex> lock(m_mutex);
    char uid[32];
    snprintf(uid, sizeof uid, "V%06d", m_nextUid++);
    m_visitors[uid] = Visitor{};
    return SimReply::json({{"state", 0}, {"msg", "ok"}, {"uid", uid}},
                          std::string("uid: new visitor ") + uid + " for store " + memberText(request, "mac"));
}

SimReply StoreSim::registerUser(const std::string &token, const std::string &body)
{
    QJsonObject request;
    SimReply refusal;
    if (!admit("user", token, body, request, refusal))
        return refusal;
    const std::string uid = memberText(request, "uid");
    if (uid.empty())
        return badRequest("user", "\"uid\" is missing");
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_visitors.find(uid);
    if (found == m_visitors.end())
        return SimReply::json({{"state", 404}, {"msg", "unknown visitor uid"}},
                              "user: unknown visitor uid " + uid);
    Visitor &visitor = found->second;
    ++visitor.visits;
    visitor.lastVisit = now();
    if (visitor.visits == 1)
        visitor.firstVisit = visitor.lastVisit;
    else
        ++m_recognisedAgain;
    ++m_registrations;
    const QJsonObject userInfo{{"uid", QString::fromStdString(uid)},
                              {"userType", QString::fromStdString(m_settings.userType)},
                              {"visits", visitor.visits},
                              {"firstVisit", QString::fromStdString(visitor.firstVisit)},
                              {"lastVisit", QString::fromStdString(visitor.lastVisit)}};
    return SimReply::json({{"state", 0}, {"msg", "ok"}, {"userInfo", userInfo}},
                          "user: visitor " + uid + (visitor.visits == 1 ? " registered" : " seen again")
                              + ", visit " + std::to_string(visitor.visits));
}

SimReply StoreSim::probeUpload(const std::string &body)
{
    QJsonObject request;
    if (!parseJsonObject(body, request))
        return badRequest("probe", "the body is not a JSON object");
    const std::string store = memberText(request, "mac");
    const QJsonValue data = request.value("macData");
    if (store.empty() || !data.isString())
        return badRequest("probe", "\"mac\" or \"macData\" is missing");
    const auto decoded = QByteArray::fromBase64Encoding(data.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return badRequest("probe", "\"macData\" is not Base64");
    std::string csv;
    std::string error;
    if (!gunzip(decoded.decoded.toStdString(), csv, maxProbeBytes, error))
        return badRequest("probe", "\"macData\" is not a gzip file: " + error);
    int stamped = 0;
    const int lines = countLines(csv, &stamped);
    const std::string file = keepProbeFile(store, csv);
    if (file.empty())
        return SimReply::json({{"state", 500}, {"msg", "the simulator could not keep the file"}},
                              "probe: could not write into " + m_settings.dataDir, 500);
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_probeUploads;
    m_probeLines += lines;
    m_probeFiles.push_back(file);
    return SimReply::json({{"state", 0}, {"msg", QString("accepted %1 lines").arg(lines)}},
                          "probe: store " + store + " uploaded " + std::to_string(lines) + " lines ("
                              + std::to_string(stamped) + " time-stamped), kept in " + file);
}

std::string StoreSim::keepProbeFile(const std::string &store, const std::string &csv)
{
    int number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        number = m_nextFile++;
    }
    std::error_code error;
    std::filesystem::create_directories(m_settings.dataDir, error);
    const std::string path = m_settings.dataDir + "/" + fileSafe(store) + "-"
        + std::to_string(QDateTime::currentMSecsSinceEpoch()) + "-" + std::to_string(number) + ".csv";
    std::ofstream out(path, std::ios::binary);
    out.write(csv.data(), static_cast<std::streamsize>(csv.size()));
    return out.good() ? path : std::string();
}

int StoreSim::countLines(const std::string &csv, int *stamped)
{
    int lines = 0;
    int withStamp = 0;
    size_t start = 0;
    for (size_t end = csv.find("\r\n"); end != std::string::npos; end = csv.find("\r\n", start)) {
        ++lines;
        const size_t bar = csv.rfind('|', end);
        if (bar != std::string::npos && bar >= start && bar + 1 < end
            && csv.find_first_not_of("0123456789", bar + 1) == end)
            ++withStamp;
        start = end + 2;
    }
    if (stamped)
        *stamped = withStamp;
    return lines;
}

QJsonObject StoreSim::summary() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QJsonArray files;
    for (const std::string &file : m_probeFiles)
        files.append(QString::fromStdString(file));
    int visitors = 0;
    for (const auto &visitor : m_visitors)
        visitors += visitor.second.visits > 0 ? 1 : 0;
    return QJsonObject{
        {"loginsAccepted", m_loginsAccepted},
        {"loginsRefused", m_loginsRefused},
        {"tradesAccepted", m_tradesAccepted},
        {"tokensRefused", m_tokensRefused},
        {"uidsIssued", static_cast<int>(m_visitors.size())},
        {"visitorsRegistered", visitors},
        {"registrations", m_registrations},
        {"visitorsRecognisedAgain", m_recognisedAgain},
        {"probeUploads", m_probeUploads},
        {"probeLines", static_cast<double>(m_probeLines)},
        {"probeFiles", files},
        {"badRequests", m_badRequests},
    };
}
