#include "FakeStoreServer.h"

#include <httplib.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

namespace {

std::string makeTempDir()
{
    std::string pattern = QDir::tempPath().toStdString() + "/nerova-cert-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

bool sameHeaderName(const std::string &a, const std::string &b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

// Inflates exactly one gzip member that must fill the whole input.
bool gunzip(const QByteArray &archive, std::string *out)
{
    if (archive.size() < 18 || static_cast<unsigned char>(archive[0]) != 0x1f
        || static_cast<unsigned char>(archive[1]) != 0x8b)
        return false;
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(archive.constData()));
    stream.avail_in = static_cast<uInt>(archive.size());
    int status = Z_OK;
    char buffer[64 * 1024];
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out->append(buffer, sizeof buffer - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && stream.avail_in == 0;
}

} // namespace

FakeStoreServer::ProbeUpload FakeStoreServer::decodeProbeUpload(const std::string &body)
{
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    ProbeUpload upload;
    upload.mac = object.value("mac").toString().toStdString();
    const QByteArray::FromBase64Result archive = QByteArray::fromBase64Encoding(
        object.value("macData").toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    upload.isGzip = archive && gunzip(archive.decoded, &upload.csv);
    return upload;
}

std::vector<FakeStoreServer::ProbeUpload> FakeStoreServer::probeUploads(const std::string &path) const
{
    std::vector<ProbeUpload> uploads;
    for (const Request &request : requestsTo(path))
        uploads.push_back(decodeProbeUpload(request.body));
    return uploads;
}

size_t FakeStoreServer::Request::headerCount(const std::string &name) const
{
    size_t count = 0;
    for (const auto &entry : headers) {
        if (sameHeaderName(entry.first, name))
            ++count;
    }
    return count;
}

std::string FakeStoreServer::Request::header(const std::string &name) const
{
    for (const auto &entry : headers) {
        if (sameHeaderName(entry.first, name))
            return entry.second;
    }
    return std::string();
}

FakeStoreServer::FakeStoreServer(Scheme scheme) : m_scheme(scheme)
{
    if (scheme == Scheme::Https)
        makeCertificate();
    else if (scheme == Scheme::HttpsFromCa)
        makeCaSignedCertificate();
    listen(0);
}

FakeStoreServer::~FakeStoreServer()
{
    down();
    if (!m_certDir.empty())
        QDir(QString::fromStdString(m_certDir)).removeRecursively();
}

// Any free port when port is 0.
bool FakeStoreServer::listen(int port)
{
    if (m_scheme != Scheme::Http)
        m_server = std::make_unique<httplib::SSLServer>((m_certDir + "/cert.pem").c_str(),
                                                        (m_certDir + "/key.pem").c_str());
    else
        m_server = std::make_unique<httplib::Server>();
    if (!m_server->is_valid()) {
        m_server.reset();
        return false;
    }
    auto handler = [this](const httplib::Request &in, httplib::Response &out) {
        Request request{in.method, in.path, std::string(), {in.headers.begin(), in.headers.end()}, in.body};
        const size_t question = in.target.find('?');
        if (question != std::string::npos)
            request.query = in.target.substr(question + 1);
        record(request);
        serve(request, &out);
    };
    // One request per connection: a kept-alive TLS connection would hold up
    // stopping the server until its keep-alive time ran out.
    m_server->set_keep_alive_max_count(1);
    m_server->Post(".*", handler);
    m_server->Get(".*", handler);
    const int bound = port > 0 ? (m_server->bind_to_port("127.0.0.1", port) ? port : -1)
                               : m_server->bind_to_any_port("127.0.0.1");
    if (bound <= 0) {
        m_server.reset();
        return false;
    }
    m_port = bound;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() is lost on a server that has not begun listening.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void FakeStoreServer::down()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_stopping.notify_all();
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = false;
}

bool FakeStoreServer::up()
{
    return !m_server && m_port > 0 && listen(m_port);
}

// A self-signed certificate for 127.0.0.1, made fresh for each server.
void FakeStoreServer::makeCertificate()
{
    m_certDir = makeTempDir();
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout '"
        + m_certDir + "/key.pem' -out '" + m_certDir + "/cert.pem' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        m_certDir.clear();
}

// A CA, and a certificate for 127.0.0.1 (by address and as a name) that it
// signed: what a server with a real certificate has.
void FakeStoreServer::makeCaSignedCertificate()
{
    m_certDir = makeTempDir();
    const std::string dir = "'" + m_certDir + "/";
    const std::string commands[] = {
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Nerova-Test-CA -keyout " + dir + "ca-key.pem' -out "
            + dir + "ca.pem'",
        "openssl req -new -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + dir + "key.pem' -out " + dir
            + "cert.csr'",
        "printf 'subjectAltName=IP:127.0.0.1,DNS:127.0.0.1\n' > " + dir + "san.ext'",
        "openssl x509 -req -days 1 -in " + dir + "cert.csr' -CA " + dir + "ca.pem' -CAkey " + dir
            + "ca-key.pem' -CAcreateserial -extfile " + dir + "san.ext' -out " + dir + "cert.pem'",
    };
    for (const std::string &command : commands) {
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
            m_certDir.clear();
            return;
        }
    }
}

QString FakeStoreServer::baseUrl() const
{
    return QString("%1://127.0.0.1:%2").arg(m_scheme == Scheme::Http ? "http" : "https").arg(m_port);
}

QString FakeStoreServer::caFile() const
{
    if (m_scheme == Scheme::Http || m_certDir.empty())
        return QString();
    return QString::fromStdString(m_certDir + (m_scheme == Scheme::Https ? "/cert.pem" : "/ca.pem"));
}

// One piece of a streamed answer; false once the client has gone or the
// server stops.
bool FakeStoreServer::stream(long long total, size_t offset, void *sink)
{
    static const std::string piece(64 * 1024, 'x');
    auto &out = *static_cast<httplib::DataSink *>(sink);
    if (pauseUnlessStopping(0))
        return false;
    const size_t size = total < 0 ? piece.size() : std::min<size_t>(piece.size(), static_cast<size_t>(total) - offset);
    if (size > 0 && !out.write(piece.data(), size))
        return false;
    m_streamed += static_cast<long long>(size);
    if (total >= 0 && offset + size >= static_cast<size_t>(total))
        out.done();
    return true;
}

void FakeStoreServer::answer(const std::string &path, const Answer &answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_standing[path] = answer;
}

void FakeStoreServer::queue(const std::string &path, const Answer &answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queued[path].push_back(answer);
}

std::vector<FakeStoreServer::Request> FakeStoreServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<FakeStoreServer::Request> FakeStoreServer::requestsTo(const std::string &path) const
{
    std::vector<Request> matching;
    for (const Request &request : requests()) {
        if (request.path == path)
            matching.push_back(request);
    }
    return matching;
}

void FakeStoreServer::record(const Request &request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
}

FakeStoreServer::Answer FakeStoreServer::nextAnswerLocked(const std::string &path)
{
    auto queued = m_queued.find(path);
    if (queued != m_queued.end() && !queued->second.empty()) {
        Answer next = queued->second.front();
        queued->second.pop_front();
        return next;
    }
    auto standing = m_standing.find(path);
    return standing != m_standing.end() ? standing->second : Answer{404, R"({"state":404,"msg":"no such path"})"};
}

// True when the server is stopping.
bool FakeStoreServer::pauseUnlessStopping(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_stopping.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stopped; });
}

std::vector<std::string> FakeStoreServer::acceptedKeys() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_acceptedKeys;
}

int FakeStoreServer::repeatsOf(const std::string &key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_repeats.find(key);
    return found == m_repeats.end() ? 0 : found->second;
}

bool FakeStoreServer::accepts(const Answer &answer)
{
    if (answer.status != 200 || answer.drop || answer.never)
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(answer.body));
    const QJsonValue state = document.object().value("state");
    return document.isObject() && (state.isUndefined() || state.toInt(-1) == 0 || state.toString() == "0");
}

bool FakeStoreServer::isRepeat(const std::string &key) const
{
    return !key.empty() && std::find(m_acceptedKeys.begin(), m_acceptedKeys.end(), key) != m_acceptedKeys.end();
}

// A key is checked and taken under one lock: of two requests with one key
// at the same time, one is a repeat.
void FakeStoreServer::serve(const Request &request, void *response)
{
    auto &out = *static_cast<httplib::Response *>(response);
    const std::string key = request.header("Idempotency-Key");
    Answer answer;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (isRepeat(key)) {
            ++m_repeats[key];
            out.set_content(R"({"state":0})", "application/json");
            return;
        }
        answer = nextAnswerLocked(request.path);
        if (!key.empty() && accepts(answer))
            m_acceptedKeys.push_back(key);
        if (answer.never)
            m_stopping.wait(lock, [this] { return m_stopped; });
        else if (answer.delayMs > 0)
            m_stopping.wait_for(lock, std::chrono::milliseconds(answer.delayMs), [this] { return m_stopped; });
    }
    out.status = answer.status;
    if (!answer.contentEncoding.empty())
        out.set_header("Content-Encoding", answer.contentEncoding);
    if (answer.drop) {
        // Announces the body, then gives up writing it: the client sees the
        // connection closed in the middle of the answer.
        out.set_content_provider(answer.body.size() + 1024, answer.contentType,
                                 [](size_t, size_t, httplib::DataSink &) { return false; });
        return;
    }
    if (answer.streamBytes != 0) {
        out.set_chunked_content_provider(answer.contentType, [this, total = answer.streamBytes](
                                                                 size_t offset, httplib::DataSink &sink) {
            return stream(total, offset, &sink);
        });
        return;
    }
    if (answer.chunked) {
        const std::string body = answer.body;
        out.set_chunked_content_provider(answer.contentType, 
                                         [this, body, bytes = answer.chunkBytes, pause = answer.chunkPauseMs](
                                             size_t offset, httplib::DataSink &sink) {
            if (offset > 0 && pause > 0 && pauseUnlessStopping(pause))
                return false;
            const size_t piece = std::min<size_t>(bytes, body.size() - offset);
            if (piece > 0)
                sink.write(body.data() + offset, piece);
            if (offset + piece == body.size())
                sink.done();
            return true;
        });
        return;
    }
    out.set_content(answer.body, answer.contentType);
}
