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
</TS>
