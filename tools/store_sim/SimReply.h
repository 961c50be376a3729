#pragma once

#include <QJsonObject>

#include <string>

// One answer of the simulator: the HTTP status, the JSON body, and the line
// it prints about the exchange.
struct SimReply
{
    int status = 200;
    std::string body;
    std::string log;

    static SimReply json(const QJsonObject &object, const std::string &log, int status = 200);
};

// The body as a JSON object; false when it is not one.
bool parseJsonObject(const std::string &body, QJsonObject &object);
// A member as text: strings as they are, numbers in decimal, else empty.
std::string memberText(const QJsonObject &object, const char *name);
