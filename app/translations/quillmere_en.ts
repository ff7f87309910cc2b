<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>Form1</name>
    <message>
        <source>请稍候...</source>
        <translation>Reading...</translation>
    </message>
    <message>
        <source>双击这里停止</source>
        <translation>Double-click
here to stop</translation>
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
    <message>
        <source>打开图片文件</source>
        <translation>Open Picture File</translation>
    </message>
    <message>
        <source>所有图片文件</source>
        <translation>All picture files</translation>
    </message>
</context>
<context>
    <name>OpenFileRequest</name>
    <message>
        <source>新图片格式</source>
        <translation>New picture formats</translation>
    </message>
    <message>
        <source>所有文件</source>
        <translation>All files</translation>
    </message>
</context>
<context>
    <name>capture::Form2</name>
    <message>
        <source>无法读取屏幕内容</source>
        <translation>The screen cannot be read</translation>
    </message>
</context>
<context>
    <name>capture::ReadoutPanel</name>
    <message>
        <source>选区大小（屏幕像素）</source>
        <translation>Size of the selection in screen pixels</translation>
    </message>
    <message>
        <source>选区平均色色块</source>
        <translation>Average colour swatch of the selection</translation>
    </message>
    <message>
        <source>选区平均色</source>
        <translation>Average colour of the selection</translation>
    </message>
</context>
</TS>
