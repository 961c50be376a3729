#include "CloudFaceSim.h"

#include <QByteArray>
#include <QJsonArray>
#include <QUrl>

#include <random>

namespace {

// The service's error codes that the simulator answers with.
constexpr int rateExceeded = 18;
constexpr int tokenInvalid = 110;
constexpr int paramMissing = 222001;
constexpr int paramFormat = 222002;
constexpr int notJson = 222200;
constexpr int imageCheckFail = 222203;
constexpr int noMatchingUser = 222207;

std::string newAccessToken()
{
    std::random_device random;
    char text[64];
    snprintf(text, sizeof text, "24.%08x%08x%08x.2592000", random(), random(), random());
    return text;
}

std::vector<std::string> splitGroups(const std::string &list)
{
    std::vector<std::string> groups;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        if (comma > start)
            groups.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return groups;
}

std::string faceTokenOf(const std::string &imageText)
{
    return std::to_string(std::hash<std::string>()(imageText));
}

} // namespace

CloudFaceSim::CloudFaceSim(double recognitionScore, int requestsPerSecond)
    : m_recognitionScore(recognitionScore)
    , m_requestsPerSecond(requestsPerSecond)
{
}

bool CloudFaceSim::overRate()
{
    if (m_requestsPerSecond <= 0)
        return false;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    while (!m_recentRequests.empty() && now - m_recentRequests.front() >= std::chrono::seconds(1))
        m_recentRequests.pop_front();
    if (static_cast<int>(m_recentRequests.size()) >= m_requestsPerSecond) {
        ++m_rateRefusals;
        return true;
    }
    m_recentRequests.push_back(now);
    return false;
}

std::string CloudFaceSim::formField(const std::string &form, const std::string &name)
{
    size_t start = 0;
    while (start < form.size()) {
        size_t end = form.find('&', start);
        if (end == std::string::npos)
            end = form.size();
        const std::string pair = form.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.compare(0, equals, name) == 0 && equals == name.size()) {
            QByteArray value = QByteArray::fromStdString(pair.substr(equals + 1)).replace('+', ' ');
            return QByteArray::fromPercentEncoding(value).toStdString();
        }
        start = end + 1;
    }
    return std::string();
}

SimReply CloudFaceSim::error(const char *exchange, int code, const std::string &message, Counted counted)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (counted == Counted::BadRequest)
        ++m_badRequests;
    else if (counted == Counted::RefusedToken)
        ++m_refusedTokens;
    const QJsonObject reply{{"error_code", code},
                            {"error_msg", QString::fromStdString(message)},
                            {"log_id", static_cast<double>(m_nextLogId++)}};
    return SimReply::json(reply, std::string(exchange) + ": error " + std::to_string(code) + ", " + message);
}

QJsonObject CloudFaceSim::success(const QJsonObject &result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QJsonObject{{"error_code", 0},
                       {"error_msg", "SUCCESS"},
                       {"log_id", static_cast<double>(m_nextLogId++)},
                       {"timestamp", static_cast<double>(time(nullptr))},
                       {"cached", 0},
                       {"result", result}};
}

bool CloudFaceSim::admit(const char *exchange, const std::string &accessToken, const std::string &body,
                         QJsonObject &request, SimReply &refusal)
{
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        known = m_tokens.count(accessToken) > 0;
    }
    if (!known)
        refusal = error(exchange, tokenInvalid, "Access token invalid or no longer valid", Counted::RefusedToken);
    else if (overRate())
        refusal = error(exchange, rateExceeded, "Open api qps request limit reached", Counted::Elsewhere);
    else if (!parseJsonObject(body, request))
        refusal = error(exchange, notJson, "request body should be json format");
    else
        return true;
    return false;
}

SimReply CloudFaceSim::token(const std::string &body, const std::string &query)
{
    auto field = [&](const char *name) {
        const std::string inBody = formField(body, name);
        return inBody.empty() ? formField(query, name) : inBody;
    };
    if (field("grant_type") != "client_credentials" || field("client_id").empty() || field("client_secret").empty()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_badRequests;
        return SimReply::json({{"error", "invalid_client"}, {"error_description", "unknown client id"}},
                              "token: refused, no client_credentials grant with client id and secret", 401);
    }
    const std::string accessToken = newAccessToken();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tokens.insert(accessToken);
    ++m_tokensIssued;
    return SimReply::json({{"access_token", QString::fromStdString(accessToken)},
                           {"expires_in", 2592000},
                           {"scope", "public brain_all_scope vis-faceverify_faceverify_h5-face-liveness"},
                           {"session_key", "simulated"},
                           {"session_secret", "simulated"},
                           {"refresh_token", "25.simulated"}},
                          "token: access token issued to client " + field("client_id"));
}

bool CloudFaceSim::readFace(const QJsonObject &request, const char *exchange, cv::Mat &signature, SimReply &failure)
{
    const QString imageType = request.value("image_type").toString();
    const QJsonValue image = request.value("image");
    if (!image.isString() || image.toString().isEmpty()) {
        failure = error(exchange, paramMissing, "param[image] is null");
        return false;
    }
    if (imageType != "BASE64") {
        failure = error(exchange, paramFormat, "param[image_type] format error (only BASE64 is simulated)");
        return false;
    }
    const auto decoded = QByteArray::fromBase64Encoding(image.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    signature = decoded ? FaceGallery::signatureOfEncoded(decoded.decoded.toStdString()) : cv::Mat();
    if (signature.empty()) {
        failure = error(exchange, imageCheckFail, "image check fail");
        return false;
    }
    return true;
}

SimReply CloudFaceSim::search(const std::string &accessToken, const std::string &body)
{
    QJsonObject request;
    SimReply refusal;
    if (!admit("search", accessToken, body, request, refusal))
        return refusal;
    const std::vector<std::string> groups = splitGroups(memberText(request, "group_id_list"));
    if (groups.empty())
        return error("search", paramMissing, "param[group_id_list] is null");
    cv::Mat signature;
    SimReply failure;
    if (!readFace(request, "search", signature, failure))
        return failure;
    const FaceGallery::Match match = m_gallery.bestMatch(groups, signature);
    if (match.userId.empty()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_searches;
        }
        return error("search", noMatchingUser, "match user is not found", Counted::Elsewhere);
    }
    QJsonArray users;
    users.append(QJsonObject{{"group_id", QString::fromStdString(match.groupId)},
                                 {"user_id", QString::fromStdString(match.userId)},
                                 {"user_info", ""},
                                 {"score", match.score}});
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_searches;
        if (match.score >= m_recognitionScore)
            ++m_recognitions;
    }
    char score[32];
    snprintf(score, sizeof score, "%.1f", match.score);
    const std::string log = "search: best match " + match.userId + " scores " + score;
    const QString faceToken = QString::fromStdString(faceTokenOf(request.value("image").toString().toStdString()));
    return SimReply::json(success({{"face_token", faceToken}, {"user_list", users}}), log);
}

SimReply CloudFaceSim::add(const std::string &accessToken, const std::string &body)
{
    QJsonObject request;
    SimReply refusal;
    if (!admit("add", accessToken, body, request, refusal))
        return refusal;
    const std::string group = memberText(request, "group_id");
    const std::string user = memberText(request, "user_id");
    if (group.empty() || user.empty())
        return error("add", paramMissing, group.empty() ? "param[group_id] is null" : "param[user_id] is null");
    cv::Mat signature;
    SimReply failure;
    if (!readFace(request, "add", signature, failure))
        return failure;
    m_gallery.add(group, user, signature);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_facesAdded;
    }
    const QString faceToken = QString::fromStdString(faceTokenOf(request.value("image").toString().toStdString()));
    const QJsonObject location{{"left", 0}, {"top", 0}, {"width", 64}, {"height", 64}, {"rotation", 0}};
    return SimReply::json(success({{"face_token", faceToken}, {"location", location}}),
                          "add: face of " + user + " added to group " + group);
}

QJsonObject CloudFaceSim::summary() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QJsonObject{{"tokensIssued", m_tokensIssued},
                       {"searches", m_searches},
                       {"recognitions", m_recognitions},
                       {"facesAdded", m_facesAdded},
                       {"cloudTokensRefused", m_refusedTokens},
                       {"cloudBadRequests", m_badRequests},
                       {"cloudRateRefusals", m_rateRefusals}};
}
