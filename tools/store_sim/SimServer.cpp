#include "SimServer.h"

#include <httplib.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

constexpr size_t maxRequestBytes = 32 * 1024 * 1024;

StoreSim::Settings storeSettings(const SimOptions &options)
{
    StoreSim::Settings settings;
    settings.userName = options.userName;
    settings.password = options.password;
    settings.userType = options.userType;
    settings.dataDir = options.dataDir;
    return settings;
}

SimReply errorReply(int status, const std::string &message)
{
    return SimReply::json({{"state", status}, {"msg", QString::fromStdString(message)}}, message, status);
}

} // namespace

SimServer::SimServer(const SimOptions &options, LogSink log)
    : m_options(options), m_log(std::move(log)), m_store(storeSettings(options)), m_cloud(options.recognitionScore, options.requestsPerSecond)
{
}

SimServer::~SimServer()
{
    stop();
    if (!m_certDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_certDir, ignored);
    }
}

bool SimServer::makeCertificate(std::string &error)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "nerova-sim-cert-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        error = "could not make a directory for the certificate";
        return false;
    }
    m_certDir = pattern;
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=127.0.0.1 -keyout '"
        + m_certDir + "/key.pem' -out '" + m_certDir + "/cert.pem' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        error = "openssl could not make a self-signed certificate (is the openssl program installed?)";
        return false;
    }
    m_options.certFile = m_certDir + "/cert.pem";
    m_options.keyFile = m_certDir + "/key.pem";
    return true;
}

bool SimServer::start(std::string &error)
{
    if (m_options.https) {
        if (m_options.certFile.empty() && !makeCertificate(error))
            return false;
        m_server = std::make_unique<httplib::SSLServer>(m_options.certFile.c_str(), m_options.keyFile.c_str());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    if (!m_server->is_valid()) {
        error = "the certificate or key could not be read";
        return false;
    }
    m_server->set_payload_max_length(maxRequestBytes);
    m_server->Post(".*", [this](const httplib::Request &in, httplib::Response &out) { handlePost(in, out); });
    m_server->Get(".*", [this](const httplib::Request &in, httplib::Response &out) { handleGet(in, out); });
    const auto refuse = [this](const httplib::Request &, httplib::Response &out) {
        answer(errorReply(405, "the simulator answers POST (and GET of the summary) only"), out);
    };
    m_server->Put(".*", refuse);
    m_server->Delete(".*", refuse);
    m_server->Patch(".*", refuse);
    if (m_options.port == 0) {
        m_port = m_server->bind_to_any_port("127.0.0.1");
    } else if (m_server->bind_to_port("127.0.0.1", m_options.port)) {
        m_port = m_options.port;
    }
    if (m_port <= 0) {
        error = "could not listen on 127.0.0.1:" + std::to_string(m_options.port) + " (is the port in use?)";
        m_port = 0;
        return false;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // A stop() before the listening loop runs would be lost, and the loop
    // would then never end.
    for (int waited = 0; !m_server->is_running() && waited < 5000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void SimServer::stop()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string SimServer::baseUrl() const
{
    return std::string(m_options.https ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
}

std::string SimServer::configText() const
{
    const std::string base = baseUrl();
    return "[Server]\nServer=" + base + "\nLoginUrl=" + m_options.loginPath + "\nTradeUrl=" + m_options.tradePath
        + "\nUIdUrl=" + m_options.uidPath + "\nAddUserUrl=" + m_options.userPath + "\nProbeUrl="
        + m_options.probePath + "\n\n[Baidu]\nFaceTokenServer=" + base + m_options.tokenPath
        + "\nFaceSearchUrl=" + base + m_options.searchPath + "\nFaceAddUrl=" + base + m_options.addPath
        + "\nBaiduGroup=demo\n";
}

SimReply SimServer::dispatch(const httplib::Request &request)
{
    const std::string &path = request.path;
    const std::string token = request.get_param_value("token");
    const std::string accessToken = request.get_param_value("access_token");
    if (path == m_options.loginPath)
        return m_store.login(request.body);
    if (path == m_options.tradePath)
        return m_store.trade(token, request.body);
    if (path == m_options.uidPath)
        return m_store.requestUid(token, request.body);
    if (path == m_options.userPath)
        return m_store.registerUser(token, request.body);
    if (path == m_options.probePath)
        return m_store.probeUpload(request.body);
    if (path == m_options.tokenPath) {
        const size_t question = request.target.find('?');
        return m_cloud.token(request.body, question == std::string::npos ? "" : request.target.substr(question + 1));
    }
    if (path == m_options.searchPath)
        return m_cloud.search(accessToken, request.body);
    if (path == m_options.addPath)
        return m_cloud.add(accessToken, request.body);
    return errorReply(404, "no exchange at " + path);
}

void SimServer::handlePost(const httplib::Request &request, httplib::Response &response)
{
    SimReply reply;
    try {
        reply = dispatch(request);
    } catch (const std::exception &failure) {
        reply = errorReply(500, std::string("the simulator failed: ") + failure.what());
    }
    answer(reply, response);
}

void SimServer::handleGet(const httplib::Request &request, httplib::Response &response)
{
    if (request.path == m_options.summaryPath) {
        response.set_content(QJsonDocument(summary()).toJson().toStdString(), "application/json");
        return;
    }
    answer(errorReply(405, "the simulator answers POST (and GET of " + m_options.summaryPath + ") only"), response);
}

void SimServer::answer(const SimReply &reply, httplib::Response &response)
{
    response.status = reply.status;
    response.set_content(reply.body, "application/json");
    if (!m_log || reply.log.empty())
        return;
    const std::string time = QDateTime::currentDateTime().toString("HH:mm:ss").toStdString();
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_log(time + " " + reply.log);
}

QJsonObject SimServer::summary() const
{
    QJsonObject all = m_store.summary();
    const QJsonObject cloud = m_cloud.summary();
    for (auto member = cloud.begin(); member != cloud.end(); ++member)
        all.insert(member.key(), member.value());
    return all;
}

std::string SimServer::summaryText() const
{
    const QJsonObject s = summary();
    auto number = [&](const char *name) { return std::to_string(s.value(name).toInt()); };
    std::ostringstream text;
    text << "Store simulator summary\n"
         << "  logins:   " << number("loginsAccepted") << " accepted, " << number("loginsRefused") << " refused\n"
         << "  trades:   " << number("tradesAccepted") << " accepted\n"
         << "  visitors: " << number("visitorsRegistered") << " registered, " << number("visitorsRecognisedAgain")
         << " times recognised again (" << number("uidsIssued") << " uids issued)\n"
         << "  faces:    " << number("facesAdded") << " added, " << number("searches") << " searches, "
         << number("recognitions") << " scoring at least " << m_options.recognitionScore << "\n"
         << "  probe:    " << number("probeUploads") << " uploads, " << number("probeLines")
         << " lines accepted, kept in " << m_options.dataDir << "/\n"
         << "  refused:  " << number("tokensRefused") << " invalid store tokens, " << number("cloudTokensRefused")
         << " invalid access tokens, " << (s.value("badRequests").toInt() + s.value("cloudBadRequests").toInt())
         << " bad requests\n";
    return text.str();
}
