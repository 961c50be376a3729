#include "FakeFaceCloud.h"

#include <string>

QString FakeFaceCloud::configGroup(const QString &group, int threshold) const
{
    return QString("[Baidu]\nFaceTokenServer=%1%2\nFaceSearchUrl=%1%3\nFaceAddUrl=%1%4\n"
                   "BaiduGroup=%5\nBaiduThreshold=%6\n")
        .arg(baseUrl(), tokenPath, searchPath, addPath, group)
        .arg(threshold);
}

std::string FakeFaceCloud::tokenReply(const std::string &accessToken)
{
    return R"({"refresh_token":"25.refresh","expires_in":2592000,"session_key":"9mzd","access_token":")"
        + accessToken + R"(","scope":"public brain_all_scope","session_secret":"2ca6"})";
}

std::string FakeFaceCloud::searchReply(const std::string &userId, double score)
{
    return R"({"error_code":0,"error_msg":"SUCCESS","log_id":1234567890123,"timestamp":1530178112,"cached":0,)"
           R"("result":{"face_token":"fid","user_list":[{"group_id":"store-7","user_id":")"
        + userId + R"(","user_info":"","score":)" + std::to_string(score) + "}]}}";
}

std::string FakeFaceCloud::addReply()
{
    return R"({"error_code":0,"error_msg":"SUCCESS","log_id":1234567890124,"timestamp":1530178113,"cached":0,)"
           R"("result":{"face_token":"fid","location":{"left":10.5,"top":20.25,"width":80,"height":80,"rotation":0}}})";
}

std::string FakeFaceCloud::errorReply(int errorCode)
{
    return R"({"error_code":)" + std::to_string(errorCode)
        + R"(,"error_msg":"refused","log_id":1234567890125,"timestamp":1530178114,"cached":0,"result":null})";
}
