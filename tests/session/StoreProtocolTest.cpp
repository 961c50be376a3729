// The login side of the store server's message formats, and the readings of
// a trade answer's state that a careless conversion would get wrong.
#include "StoreProtocol.h"

#include "JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

StoreProtocol::LoginAnswer loginAnswer(const char *body)
{
    return StoreProtocol::loginAnswer(StoreProtocol::replyObject(body));
}

QString labels(const char *brandLabelList)
{
    return StoreProtocol::labelsText(QJsonDocument::fromJson(QByteArray(R"({"list":)") + brandLabelList + "}")
                                         .object()
                                         .value("list"));
}

TEST(LoginBodyTest, TextsAreEscapedAndWrittenAsUtf8)
{
    EXPECT_EQ(StoreProtocol::loginBody("S-1", "p\"w\\d", QString::fromUtf8("店长")),
              QByteArray("{\n    \"mac\": \"S-1\",\n    \"passWord\": \"p\\\"w\\\\d\",\n"
                         "    \"userName\": \"店长\"\n}\n"));
}

TEST(LoginAnswerTest, OnlyAWholeNumberStateRefusesTheLogin)
{
    EXPECT_EQ(loginAnswer(R"({"state":1003})").state, 1003);
    EXPECT_EQ(loginAnswer(R"({"state":-2})").state, -2);
    EXPECT_EQ(loginAnswer(R"({"state":1003.5})").state, 0);
    EXPECT_EQ(loginAnswer(R"({"state":"1003"})").state, 0);
    EXPECT_EQ(loginAnswer(R"({"state":true})").state, 0);
    EXPECT_EQ(loginAnswer(R"({"state":null})").state, 0);
    EXPECT_EQ(loginAnswer("[1003]").state, 0);
}

TEST(LoginAnswerTest, TokenBrandAndMessageAreTextsOrEmpty)
{
    const StoreProtocol::LoginAnswer texts = loginAnswer(R"({"token":"t 1","brandId":"B","msg":"m"})");
    EXPECT_EQ(texts.token, "t 1");
    EXPECT_EQ(texts.brandId, "B");
    EXPECT_EQ(texts.msg, "m");

    const StoreProtocol::LoginAnswer others = loginAnswer(R"({"token":12,"brandId":["B"],"msg":{"text":"m"}})");
    EXPECT_EQ(others.token, "");
    EXPECT_EQ(others.brandId, "");
    EXPECT_EQ(others.msg, "");
    EXPECT_EQ(loginAnswer(R"({"state":0})").labelsText, "[\n]\n");
}

// One object per element, in order, whatever the element holds; the two
// members are copied with their JSON values, null included.
TEST(LabelsTextTest, EveryElementGivesAnObjectWithJustTheTwoMembers)
{
    EXPECT_EQ(labels(R"([{"labelId":null,"labelName":{"zh":"会员"},"x":1}, 5, "VIP", {"other":2}])"),
              QString::fromUtf8("[\n"
                                "    {\n        \"labelId\": null,\n"
                                "        \"labelName\": {\n            \"zh\": \"会员\"\n        }\n    },\n"
                                "    {\n    },\n"
                                "    {\n    },\n"
                                "    {\n    }\n"
                                "]\n"));
    EXPECT_EQ(labels(R"({"labelId":1,"labelName":"VIP"})"), "[\n]\n");
    EXPECT_EQ(labels(R"("VIP")"), "[\n]\n");
}

// A number beyond the range of int must not wrap around into a meaningful
// state such as 401.
TEST(TradeStateRangeTest, StatesBeyondTheIntegerRangeReadAsZero)
{
    const auto state = [](const char *answer) { return StoreProtocol::tradeState(StoreProtocol::replyObject(answer)); };
    EXPECT_EQ(state(R"({"state":4294967697})"), 0);
    EXPECT_EQ(state(R"({"state":"4294967697"})"), 0);
    EXPECT_EQ(state(R"({"state":-4294966895})"), 0);
    EXPECT_EQ(state(R"({"state":1e300})"), 0);
    EXPECT_EQ(state(R"({"state":401.99})"), 401);
    EXPECT_EQ(state(R"({"state":"-401"})"), -401);
}

// Only ASCII digits count: other scripts' digits are not a phone number.
TEST(MobilePhoneTest, OnlyAsciiDigitsMatch)
{
    EXPECT_TRUE(StoreProtocol::isMobilePhone("13812345678"));
    EXPECT_FALSE(StoreProtocol::isMobilePhone(QString::fromUtf8("13８12345678")));
    EXPECT_FALSE(StoreProtocol::isMobilePhone(QString::fromUtf8("13٨12345678")));
    EXPECT_FALSE(StoreProtocol::isMobilePhone(""));
    EXPECT_FALSE(StoreProtocol::isMobilePhone("13812345678\n13812345678"));
}

// Found by fuzzing: Qt's parser loses arrays and objects of an object whose
// member names repeat, so every such reply leaked (the leak checker of the
// sanitised build fails this test if it comes back). The last member still
// wins, as before, at every depth and through escapes.
TEST(RepeatedMemberTest, TheLastMemberWinsAndNothingLeaks)
{
    const QJsonObject reply = StoreProtocol::replyObject(
        R"({"e":1,"result":{"user_list":[]},"re\u0073ult":{"user_list":[{"a":[1],"a":{"b":[2],"b":[3]}}]},)"
        R"("list":[{"x":{"y":[]},"x":[{}],"x":"last"}]})");
    EXPECT_EQ(QJsonDocument(reply).toJson(QJsonDocument::Compact),
              R"({"e":1,"list":[{"x":"last"}],"result":{"user_list":[{"a":{"b":[3]}}]}})");
    EXPECT_EQ(JsonText::withoutRepeatedMembers(R"({"a":[1], "a":2,"s":"{\"b\":[1],\"b\":2}"} [)"),
              R"({"a":2,"s":"{\"b\":[1],\"b\":2}"} [)");
    // With a repeated name, Qt also lost other members' arrays when it had
    // many members to sort (here 16 in descending order).
    QByteArray many = R"({"k00":0)";
    for (int k = 15; k >= 0; --k)
        many += QStringLiteral(R"(,"k%1":[%2])").arg(k, 2, 10, QLatin1Char('0')).arg(k).toLatin1();
    const QJsonObject manyMembers = StoreProtocol::replyObject(many + '}');
    EXPECT_EQ(manyMembers.size(), 16);
    EXPECT_EQ(manyMembers.value("k00").toArray(), QJsonArray{0});
    // Qt's own reading kept "VIP" here, an earlier member.
    const QJsonObject labels = StoreProtocol::replyObject(
        R"({"l":[{"labelId":2,"labelName":"VIP","lad":2,"labelId":2,"labelName":"VIP","lad":2,"labelName":"V",)"
        R"("labelmed":2,"labelName":"VIP","lad":2,"labelName":"V","labelName":"V","labelmed":2,"labelName":"VIP",)"
        R"("lad":2,"labelName":"V","labelName":"@V"}]})");
    EXPECT_EQ(labels.value("l")[0]["labelName"], "@V");

    // Taking out a repeated member must not take out an error in it, nor
    // take a name with a NUL byte for a shorter one.
    EXPECT_TRUE(StoreProtocol::replyObject("{\"info\":{\"a\":\x91\"m\"},\"info\":{\"b\":[2]}}").isEmpty());
    const char nulInName[] = "{\"a\0\":[1],\"a\":[2],\"a\":3}";
    EXPECT_EQ(StoreProtocol::replyObject(QByteArray(nulInName, sizeof nulInName - 1)).keys(),
              (QStringList{"a", QString::fromUtf8("a\0", 2)}));
    // Qt takes "a\0b" and "a\0c" for one name: the last one wins, and nothing leaks.
    const char sameToQt[] = "{\"a\0b\":[1],\"a\0c\":[2]}";
    EXPECT_EQ(StoreProtocol::replyObject(QByteArray(sameToQt, sizeof sameToQt - 1)).keys(),
              QStringList{QString::fromUtf8("a\0c", 3)});

    const QJsonObject trade = QJsonDocument::fromJson(StoreProtocol::tradeBody(
        R"({"mobilePhone":["x"],"mobilePhone":"13812345678","items":{"a":[]},"items":{"b":1}})", "S-1")).object();
    EXPECT_EQ(trade.value("mobilePhone").toString(), "13812345678");
    EXPECT_EQ(trade.value("items").toObject().keys(), QStringList{"b"});
}

} // namespace

// Replies beyond the limits are refused as malformed before Qt reads them,
// with an ERROR line saying which limit; text just within them reads as
// usual. Repeated names right up to the member limit still read correctly.
TEST(JsonLimitsTest, TextBeyondALimitIsMalformedAndSaysWhy)
{
    static QStringList refusals;
    JsonText::setRefusalLog([](const QString &line) { refusals.append(line); });
    const auto nested = [](int depth) { return QByteArray(depth, '[') + QByteArray(depth, ']'); };
    const auto members = [](int count, bool repeated) {
        QByteArray text = "{";
        for (int i = 0; i < count; ++i)
            text += (i ? ",\"" : "\"") + (repeated ? QByteArray("a") : QByteArray::number(i)) + "\":" + QByteArray::number(i);
        return text + '}';
    };
    const JsonText::Limits limits;
    struct Row
    {
        const char *name;
        QByteArray text;
        QString refusal; // empty: read as Qt reads it
    } rows[] = {
        {"deepest allowed", nested(limits.maxDepth), {}},
        {"one level deeper", nested(limits.maxDepth + 1), "nested deeper than 32 levels"},
        {"deeper inside an object", "{\"a\":" + nested(limits.maxDepth) + "}", "nested deeper than 32 levels"},
        {"most members", members(limits.maxMembers, false), {}},
        {"one member more", members(limits.maxMembers + 1, false), "more than 100000 members and elements"},
        {"repeated name, most members", members(limits.maxMembers, true), {}},
        {"repeated name, one more", members(limits.maxMembers + 1, true), "more than 100000 members and elements"},
        {"largest size", "[\"" + QByteArray(limits.maxBytes - 4, 'x') + "\"]", {}},
        {"one byte larger", "[\"" + QByteArray(limits.maxBytes - 3, 'x') + "\"]", "larger than 4194304 bytes"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        refusals.clear();
        QString refusal;
        QJsonParseError error{};
        const QJsonDocument document = JsonText::parse(row.text, limits, &refusal, &error);
        EXPECT_EQ(refusal, row.refusal);
        if (row.refusal.isEmpty()) {
            EXPECT_FALSE(document.isNull()) << error.errorString().toStdString();
            EXPECT_TRUE(refusals.isEmpty());
        } else {
            EXPECT_TRUE(document.isNull());
            EXPECT_EQ(error.error, QJsonParseError::DeepNesting);
            EXPECT_EQ(refusals, QStringList{"JSON text refused: " + row.refusal + "; taken as malformed"});
            EXPECT_TRUE(StoreProtocol::replyObject(row.text).isEmpty());
        }
    }
    EXPECT_EQ(JsonText::parse(members(limits.maxMembers, true)).object().value("a").toInt(), limits.maxMembers - 1);
    JsonText::setRefusalLog(nullptr);
}
