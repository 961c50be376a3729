#pragma once

#include <QByteArray>
#include <QString>

// What an answer to a trade means, how long to wait before a trade is sent
// again, and the texts that tell the host about held trades: plain rules,
// without the network.
class TradeRules
{
public:
    enum class Outcome {
        Accepted,     // the server took the trade ("state" 0)
        Refused,      // the server turned it down for good (another state)
        InvalidToken, // HTTP 401 or "state" 401: sent again after the next login
        Unanswered,   // no answer the server stands by: sent again
        Rejected,     // another HTTP 4xx without a JSON answer: sent again a few times
    };

    struct Reply
    {
        int networkError = 0; // QNetworkReply::NetworkError
        QString errorText;
        int httpStatus = 0; // 0 when no HTTP answer came
        QString contentType;
        QByteArray body;
    };

    struct Verdict
    {
        Outcome outcome = Outcome::Unanswered;
        int state = 0;
        QString msg;    // the server's "msg" with a refusal
        QString reason; // why the trade was not answered
    };

    static Verdict verdict(const Reply &reply);

    // The wait after failures in a row (at least 1): the first delay,
    // doubled at each further failure, never more than the longest.
    static int retryDelayMs(int failures, int firstMs, int longestMs);

    // The notices' texts carry the counts in a fixed form, never
    // translated, so that a host can read them.
    static QString heldText(int held);
    static QString fullText(int held, int notKept);

private:
    static bool isTransportError(int networkError);
};
