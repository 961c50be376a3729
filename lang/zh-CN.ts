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
</TS>
