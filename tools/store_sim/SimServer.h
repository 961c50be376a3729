#pragma once

#include "CloudFaceSim.h"
#include "SimOptions.h"
#include "StoreSim.h"

#include <QJsonObject>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}

// The simulator's HTTP(S) server on 127.0.0.1: every path of the options
// goes to its exchange; other paths and methods get a JSON error answer.
class SimServer
{
public:
    using LogSink = std::function<void(const std::string &line)>;

    explicit SimServer(const SimOptions &options, LogSink log = nullptr);
    ~SimServer();

    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // Binds and serves on a thread of its own; false with a reason in error.
    bool start(std::string &error);
    void stop();

    int port() const { return m_port; }
    std::string baseUrl() const;
    // The conf/default.ini settings that point the library at this server.
    std::string configText() const;
    QJsonObject summary() const;
    std::string summaryText() const;

    StoreSim &store() { return m_store; }
    CloudFaceSim &cloud() { return m_cloud; }

private:
    void handlePost(const httplib::Request &request, httplib::Response &response);
    void handleGet(const httplib::Request &request, httplib::Response &response);
    SimReply dispatch(const httplib::Request &request);
    void answer(const SimReply &reply, httplib::Response &response);
    bool makeCertificate(std::string &error);

    SimOptions m_options;
    LogSink m_log;
    std::mutex m_logMutex;
    StoreSim m_store;
    CloudFaceSim m_cloud;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::string m_certDir;
    int m_port = 0;
};
