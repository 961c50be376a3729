#pragma once

// The names of the configuration keys in conf/default.ini, shared by the
// library's reading and the wizard's reading and writing, so that the two
// can never disagree on a spelling.
namespace ConfigKeys {

constexpr char Server[] = "Server/Server";
constexpr char LoginUrl[] = "Server/LoginUrl";
constexpr char TradeUrl[] = "Server/TradeUrl";
constexpr char UIdUrl[] = "Server/UIdUrl";
constexpr char AddUserUrl[] = "Server/AddUserUrl";
constexpr char ProbeUrl[] = "Server/ProbeUrl";
constexpr char TradeRetryDelay[] = "Server/TradeRetryDelay";
constexpr char TradeRetryMaxDelay[] = "Server/TradeRetryMaxDelay";
constexpr char TradeOutboxMax[] = "Server/TradeOutboxMax";
constexpr char ServerCaFile[] = "Server/CaFile";

constexpr char DeviceId[] = "Nerova/DeviceId";
constexpr char CheckDeviceInterval[] = "Nerova/CheckDeviceInterval";
constexpr char ProxyEnabled[] = "Nerova/ProxyEnabled";
constexpr char ProxyHost[] = "Nerova/ProxyHost";
constexpr char ProxyPort[] = "Nerova/ProxyPort";
constexpr char DebugMode[] = "Nerova/DebugMode";
constexpr char DebugKeepFiles[] = "Nerova/DebugKeepFiles";
constexpr char DebugKeepMB[] = "Nerova/DebugKeepMB";

constexpr char ProbeEnabled[] = "Probe/ProbeEnabled";
constexpr char ProbeDevice[] = "Probe/ProbeDevice";
constexpr char ProbeInterval[] = "Probe/ProbeInterval";

constexpr char FaceEnabled[] = "Face/FaceEnabled";
constexpr char FaceDevice[] = "Face/FaceDevice";
constexpr char FaceInterval[] = "Face/FaceInterval";
constexpr char FaceThreshold[] = "Face/FaceThreshold";
constexpr char FaceBlurEnabled[] = "Face/FaceBlurEnabled";
constexpr char FaceBlurThreshold[] = "Face/FaceBlurThreshold";
constexpr char FaceBrightEnabled[] = "Face/FaceBrightEnabled";
constexpr char FaceBrightThreshold[] = "Face/FaceBrightThreshold";
constexpr char FaceLeftEye[] = "Face/FaceLeftEye";
constexpr char FaceRightEye[] = "Face/FaceRightEye";
constexpr char FaceNose[] = "Face/FaceNose";
constexpr char FaceMouth[] = "Face/FaceMouth";
constexpr char OncePerVisit[] = "Face/OncePerVisit";
constexpr char VisitGap[] = "Face/VisitGap";
constexpr char MotionGate[] = "Face/MotionGate";
constexpr char MotionGatePeriod[] = "Face/MotionGatePeriod";
constexpr char StatsInterval[] = "Face/StatsInterval";

constexpr char FaceTokenServer[] = "Baidu/FaceTokenServer";
constexpr char FaceSearchUrl[] = "Baidu/FaceSearchUrl";
constexpr char FaceAddUrl[] = "Baidu/FaceAddUrl";
constexpr char BaiduGroup[] = "Baidu/BaiduGroup";
constexpr char BaiduThreshold[] = "Baidu/BaiduThreshold";
constexpr char BaiduSearchQuality[] = "Baidu/BaiduSearchQuality";
constexpr char BaiduRegisterQuality[] = "Baidu/BaiduRegisterQuality";
constexpr char QuotaPause[] = "Baidu/QuotaPause";
constexpr char TlsVerify[] = "Baidu/TlsVerify";
constexpr char BaiduCaFile[] = "Baidu/CaFile";

constexpr char Log[] = "Log";

} // namespace ConfigKeys
