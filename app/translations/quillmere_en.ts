<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>ColourCopy</name>
    <message>
        <source>十六进制</source>
        <translation>hex</translation>
    </message>
    <message>
        <source>三行信息</source>
        <translation>info lines</translation>
    </message>
    <message>
        <source>复制%1：%2</source>
        <translation>Copy %1: %2</translation>
    </message>
</context>
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
    <message>
        <source>图片的颜色空间</source>
        <translation>Colour space of the picture</translation>
    </message>
</context>
<context>
    <name>LoadedPicture</name>
    <message>
        <source>找不到该文件。</source>
        <translation>No such file.</translation>
    </message>
    <message>
        <source>没有读取该文件的权限。</source>
        <translation>You are not allowed to read the file.</translation>
    </message>
    <message>
        <source>这不是一个普通文件。</source>
        <translation>This is not a regular file.</translation>
    </message>
    <message>
        <source>文件是空的。</source>
        <translation>The file is empty.</translation>
    </message>
    <message>
        <source>读取文件时出错。</source>
        <translation>The file could not be read.</translation>
    </message>
    <message>
        <source>这不是本程序能读取的图片格式。</source>
        <translation>This is not a picture format Quillmere reads.</translation>
    </message>
    <message>
        <source>文件不完整，图片在结束前就中断了。</source>
        <translation>The file is cut short: the picture ends before it is complete.</translation>
    </message>
    <message>
        <source>图片数据已损坏。</source>
        <translation>The picture&apos;s data is damaged.</translation>
    </message>
    <message>
        <source>不支持这种图片格式的变体。</source>
        <translation>This variant of the picture format is not supported.</translation>
    </message>
    <message>
        <source>图片太大。</source>
        <translation>The picture is too large.</translation>
    </message>
    <message>
        <source>内存不足。</source>
        <translation>There is not enough memory for the picture.</translation>
    </message>
    <message>
        <source>找不到新图片格式的解码模块。</source>
        <translation>The decoders of the newer picture formats are missing.</translation>
    </message>
    <message>
        <source>新图片格式的解码模块来自另一个版本。</source>
        <translation>The decoders of the newer picture formats are from another build.</translation>
    </message>
    <message>
        <source>此版本不支持这种图片格式。</source>
        <translation>This build does not support the picture&apos;s format.</translation>
    </message>
    <message>
        <source>无法读取图片的颜色配置文件，已按 sRGB 处理。</source>
        <translation>The picture&apos;s colour profile could not be read: it was taken as sRGB.</translation>
    </message>
    <message>
        <source>%1 的像素超出 sRGB，已裁剪。</source>
        <translation>%1 of the pixels were outside sRGB and clipped.</translation>
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
    <name>app::MainColourRow</name>
    <message>
        <source>图片的主色</source>
        <translation>Main colours of the picture</translation>
    </message>
    <message>
        <source>主色所占比例</source>
        <translation>Share of the pixels in this main colour</translation>
    </message>
    <message>
        <source>%1，占像素的 %2%</source>
        <translation>%1, %2% of the pixels</translation>
    </message>
    <message>
        <source>单击复制</source>
        <translation>Click to copy</translation>
    </message>
</context>
<context>
    <name>capture::Form2</name>
    <message>
        <source>无法读取屏幕内容</source>
        <translation>The screen cannot be read</translation>
    </message>
    <message>
        <source>窗口系统没有给出屏幕的图像</source>
        <translation>The window system gave no picture of the screen</translation>
    </message>
    <message>
        <source>没有可以截取屏幕的桌面门户</source>
        <translation>No desktop portal is there to take a screenshot</translation>
    </message>
    <message>
        <source>桌面门户拒绝了截图</source>
        <translation>The desktop portal refused the screenshot</translation>
    </message>
    <message>
        <source>桌面门户没有及时回答</source>
        <translation>The desktop portal did not answer in time</translation>
    </message>
    <message>
        <source>桌面门户的回答无法使用</source>
        <translation>The desktop portal&apos;s answer could not be used</translation>
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
