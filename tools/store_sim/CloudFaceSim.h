#pragma once

#include "FaceGallery.h"
#include "SimReply.h"

#include <QJsonObject>

#include <chrono>
#include <deque>
#include <mutex>
#include <set>
#include <string>

// The cloud face service's side of the simulator: access tokens, face
// search and face add, answered in the service's own shapes ("error_code",
// "error_msg", "log_id", "result"). The search really compares the searched
// face with the faces added so far (FaceGallery) and answers the best one.
// A search that finds no face in its groups is answered 222207 ("match
// user is not found"), as the service does; with a request rate set,
// searches and adds beyond it in one second are refused with 18 ("Open api
// qps request limit reached").
// Safe to call from several threads.
class CloudFaceSim
{
public:
    // Searches scoring at least this count as recognitions in the summary;
    // what counts as the same person is the caller's threshold. A
    // requestsPerSecond of 0 sets no limit.
    explicit CloudFaceSim(double recognitionScore = 80, int requestsPerSecond = 0);

    // body: "grant_type=client_credentials&client_id=...&client_secret=...",
    // as a form text; the same fields may come in the query instead.
    SimReply token(const std::string &body, const std::string &query);
    SimReply search(const std::string &accessToken, const std::string &body);
    SimReply add(const std::string &accessToken, const std::string &body);

    QJsonObject summary() const;

    // The value of one field of a form text ("a=1&b=2"), percent-decoded.
    static std::string formField(const std::string &form, const std::string &name);

private:
    // Which summary counter an error reply counts in.
    enum class Counted { BadRequest, RefusedToken, Elsewhere };
    SimReply error(const char *exchange, int code, const std::string &message, Counted counted = Counted::BadRequest);
    // The face of a request's "image" member, or an error reply.
    bool readFace(const QJsonObject &request, const char *exchange, cv::Mat &signature, SimReply &failure);
    // A known access token and a JSON object body, or the refusal.
    bool admit(const char *exchange, const std::string &accessToken, const std::string &body, QJsonObject &request,
               SimReply &refusal);
    QJsonObject success(const QJsonObject &result);
    // True when one more face request this second would exceed the rate.
    bool overRate();

    double m_recognitionScore;
    int m_requestsPerSecond;
    std::deque<std::chrono::steady_clock::time_point> m_recentRequests;
    int m_rateRefusals = 0;
    FaceGallery m_gallery;
    mutable std::mutex m_mutex;
    std::set<std::string> m_tokens;
    long long m_nextLogId = 1000001;
    int m_tokensIssued = 0;
    int m_searches = 0;
    int m_recognitions = 0;
    int m_facesAdded = 0;
    int m_refusedTokens = 0;
    int m_badRequests = 0;
};
