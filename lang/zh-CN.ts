<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>HNerovaCore</name>
    <message>
        <source>Network error(%1)</source>
        <translation>网络错误(%1)</translation>
    </message>
    <message>
        <source>No login address: %1 does not exist (set NEROVA_HOME to the installation directory)</source>
        <translation>没有登录地址：%1 不存在（请把 NEROVA_HOME 设为安装目录）</translation>
    </message>
    <message>
        <source>No login address: Server/Server and Server/LoginUrl are empty in %1</source>
        <translation>没有登录地址：%1 中的 Server/Server 和 Server/LoginUrl 为空</translation>
    </message>
    <message>
        <source>Login answer taken for a trade answer: the login address %1 begins with the trade address %2, so no login can complete; give the login and the trade each their own path</source>
        <translation>登录应答被当作交易应答：登录地址 %1 以交易地址 %2 开头，登录无法完成；请为登录和交易各设一个路径</translation>
    </message>
    <message>
        <source>Invalid token</source>
        <translation>无效的令牌</translation>
    </message>
</context>
<context>
    <name>PostJson</name>
    <message>
        <source>Network ready</source>
        <translation>网络已就绪</translation>
    </message>
    <message>
        <source>Network error (timeout)</source>
        <translation>网络错误 (超时)</translation>
    </message>
    <message>
        <source>Network error (%1)</source>
        <translation>网络错误 (%1)</translation>
    </message>
</context>
<context>
    <name>FaceCloud</name>
    <message>
        <source>Member</source>
        <translation>会员</translation>
    </message>
    <message>
        <source>Not member</source>
        <translation>非会员</translation>
    </message>
    <message>
        <source>Cloud face service quota used up (error %1): no face is searched for %2 s</source>
        <translation>云端人脸服务配额已用完（错误 %1）：%2 秒内不再搜索人脸</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Unknown</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>Network: unknown</source>
        <translation>网络：未知</translation>
    </message>
    <message>
        <source>Network: testing</source>
        <translation>网络：测试中</translation>
    </message>
    <message>
        <source>Network: success</source>
        <translation>网络：成功</translation>
    </message>
    <message>
        <source>Network: failure</source>
        <translation>网络：失败</translation>
    </message>
    <message>
        <source>Network: failure, no server address is configured (Server/Server in %1)</source>
        <translation>网络：失败，%1 中未配置服务器地址 Server/Server</translation>
    </message>
    <message>
        <source>Network: failure, no answer within %1 s</source>
        <translation>网络：失败，%1 秒内无应答</translation>
    </message>
    <message>
        <source>Network: failure, %1</source>
        <translation>网络：失败，%1</translation>
    </message>
    <message>
        <source>Probe: failure, no data within %1 s</source>
        <translation>探针：失败，%1 秒内未收到数据</translation>
    </message>
    <message>
        <source>Probe: unknown</source>
        <translation>探针：未知</translation>
    </message>
    <message>
        <source>Probe: no choice</source>
        <translation>探针：未选择</translation>
    </message>
    <message>
        <source>Probe: failure</source>
        <translation>探针：失败</translation>
    </message>
    <message>
        <source>Probe: testing</source>
        <translation>探针：测试中</translation>
    </message>
    <message>
        <source>Probe: success</source>
        <translation>探针：成功</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>下一步</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>测试</translation>
    </message>
    <message>
        <source>Testing</source>
        <translation>测试中</translation>
    </message>
    <message>
        <source>Please choose a device</source>
        <translation>请选择设备</translation>
    </message>
    <message>
        <source>No device</source>
        <translation>无设备</translation>
    </message>
    <message>
        <source>Face detected</source>
        <translation>检测到人脸</translation>
    </message>
    <message>
        <source>No face detected</source>
        <translation>未检测到人脸</translation>
    </message>
</context>
<context>
    <name>NerovaProbe</name>
    <message>
        <source>Probe device is ready</source>
        <translation>探针设备已就绪</translation>
    </message>
</context>
<context>
    <name>NerovaFace</name>
    <message>
        <source>Failed to load classifier: %1</source>
        <translation>加载分类器失败: %1</translation>
    </message>
    <message>
        <source>No face classifier</source>
        <translation>没有人脸分类器</translation>
    </message>
    <message>
        <source>No eyepair_big classifier</source>
        <translation>没有 eyepair_big 分类器</translation>
    </message>
    <message>
        <source>No eyepair_small classifier</source>
        <translation>没有 eyepair_small 分类器</translation>
    </message>
    <message>
        <source>No eye classifier</source>
        <translation>没有 eye 分类器</translation>
    </message>
    <message>
        <source>No mcs_lefteye classifier</source>
        <translation>没有 mcs_lefteye 分类器</translation>
    </message>
    <message>
        <source>No mcs_lefteye_alt classifier</source>
        <translation>没有 mcs_lefteye_alt 分类器</translation>
    </message>
    <message>
        <source>No mcs_righteye classifier</source>
        <translation>没有 mcs_righteye 分类器</translation>
    </message>
    <message>
        <source>No mcs_righteye_alt classifier</source>
        <translation>没有 mcs_righteye_alt 分类器</translation>
    </message>
    <message>
        <source>No mcs_nose classifier</source>
        <translation>没有 mcs_nose 分类器</translation>
    </message>
    <message>
        <source>No mcs_mouth classifier</source>
        <translation>没有 mcs_mouth 分类器</translation>
    </message>
    <message>
        <source>No eye_tree_eyeglasses classifier</source>
        <translation>没有 eye_tree_eyeglasses 分类器</translation>
    </message>
    <message>
        <source>No efteye_2splits classifier</source>
        <translation>没有 efteye_2splits 分类器</translation>
    </message>
    <message>
        <source>No righteye_2splits classifier</source>
        <translation>没有 righteye_2splits 分类器</translation>
    </message>
    <message>
        <source>No mcs_leftear classifier</source>
        <translation>没有 mcs_leftear 分类器</translation>
    </message>
    <message>
        <source>No mcs_righear classifier</source>
        <translation>没有 mcs_righear 分类器</translation>
    </message>
    <message>
        <source>No face device</source>
        <translation>没有人脸设备</translation>
    </message>
    <message>
        <source>No face detected</source>
        <translation>未检测到人脸</translation>
    </message>
</context>
</TS>
