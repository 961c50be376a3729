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
    <name>NerovaProbe</name>
    <message>
        <source>Probe device is ready</source>
        <translation>探针设备已就绪</translation>
    </message>
</context>
</TS>
