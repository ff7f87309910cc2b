<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>Form1</name>
    <message>
        <source>请稍候...</source>
        <translation>Please wait...</translation>
    </message>
    <message>
        <source>双击这里停止</source>
        <translation>Double-click here to stop</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open File</translation>
    </message>
    <message>
        <source>屏幕截图</source>
        <translation>Capture</translation>
    </message>
    <message>
        <source>平均色色块</source>
        <translation>Average colour swatch</translation>
    </message>
    <message>
        <source>平均色信息：</source>
        <translation>Average colour:</translation>
    </message>
    <message>
        <source>双击选择背景颜色</source>
        <translation>Double-click to choose the background colour</translation>
    </message>
    <message>
        <source>平均色十六进制值</source>
        <translation>Average colour in hex</translation>
    </message>
    <message>
        <source>平均色信息</source>
        <translation>Average colour details</translation>
    </message>
</context>
</TS>
