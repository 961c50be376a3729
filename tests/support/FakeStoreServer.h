#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// A store server for the tests on 127.0.0.1 (HTTP, or HTTPS with a
// self-signed certificate made for the test, or one signed by a CA made
// for the test): it records every request and
// answers each path from a script. As a careful server does, it takes a
// request with an Idempotency-Key once: a key counts as accepted as soon as
// the script's answer for it accepts (200 with "state" 0), also when that
// answer is delayed or never reaches the client, and a repeat of the key is
// answered {"state":0} without the script and taken no second time.
class FakeStoreServer
{
public:
    enum class Scheme { Http, Https, HttpsFromCa };

    struct Request
    {
        std::string method;
        std::string path;
        std::string query; // as sent, still percent-encoded
        std::multimap<std::string, std::string> headers;
        std::string body;

        size_t headerCount(const std::string &name) const;
        std::string header(const std::string &name) const;
    };

    struct Answer
    {
        int status = 200;
        std::string body = R"({"state":0})";
        std::string contentType = "application/json";
        int delayMs = 0;
        bool drop = false;  // the connection is closed in the middle of the answer
        bool never = false; // no answer until the server stops
        bool chunked = false; // sent in chunks, without a Content-Length
        size_t chunkBytes = 64 * 1024;
        int chunkPauseMs = 0; // a pause before every chunk after the first
        std::string contentEncoding{}; // sent as Content-Encoding, with the body as it stands
        // Instead of the body: this many bytes made while they are sent, in
        // chunks (no Content-Length); a negative number sends without end.
        long long streamBytes = 0;
    };

    explicit FakeStoreServer(Scheme scheme = Scheme::Http);
    ~FakeStoreServer();

    // Stops listening: connections to the port are refused, and answers
    // still being held are given up. up() listens on the same port again,
    // with the same script and record of requests.
    void down();
    bool up();

    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
    QString baseUrl() const;
    // The PEM file of the CA that signed the certificate (the certificate
    // itself when self-signed); empty for HTTP.
    QString caFile() const;
    // The bytes of streamed answers written to the connections so far.
    long long streamedBytes() const { return m_streamed; }
    int port() const { return m_port; }
    bool isRunning() const { return m_server && m_port > 0; }

    // The answer for a path from now on (until replaced).
    void answer(const std::string &path, const Answer &answer);
    void answer(const std::string &path, const std::string &body) { answer(path, Answer{200, body}); }
    // One-time answers, used in order before the standing one.
    void queue(const std::string &path, const Answer &answer);

    std::vector<Request> requests() const;
    std::vector<Request> requestsTo(const std::string &path) const;
    // The keys of the requests accepted (answered 200 with "state" 0), in
    // order, each once; and how many repeats of a key were dropped.
    std::vector<std::string> acceptedKeys() const;
    int repeatsOf(const std::string &key) const;

    // A probe upload as the store server reads it: "mac", and "macData"
    // decoded from Base64 and checked to be one complete gzip stream.
    struct ProbeUpload
    {
        std::string mac;
        bool isGzip = false; // a gzip member that ends where the data ends
        std::string csv;     // the uncompressed bytes
    };
    // Every upload to the path so far, in arrival order.
    std::vector<ProbeUpload> probeUploads(const std::string &path) const;
    static ProbeUpload decodeProbeUpload(const std::string &body);

private:
    Answer nextAnswerLocked(const std::string &path);
    bool isRepeat(const std::string &key) const;
    static bool accepts(const Answer &answer);
    void record(const Request &request);
    bool pauseUnlessStopping(int milliseconds);
    void serve(const Request &request, void *response);
    void makeCertificate();
    void makeCaSignedCertificate();
    bool stream(long long total, size_t offset, void *sink);
    bool listen(int port);

    Scheme m_scheme;
    std::string m_certDir;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopping;
    bool m_stopped = false;
    std::map<std::string, Answer> m_standing;
    std::map<std::string, std::deque<Answer>> m_queued;
    std::vector<Request> m_requests;
    std::vector<std::string> m_acceptedKeys;
    std::map<std::string, int> m_repeats;
    std::atomic<long long> m_streamed{0};
};
