<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>Sonvelt</name>
    <message>
        <source>输入WAVE文件（原唱）</source>
        <translation>Original (with vocals)</translation>
    </message>
    <message>
        <source>输入WAVE文件（伴奏）</source>
        <translation>Karaoke (without vocals)</translation>
    </message>
    <message>
        <source>输出WAVE文件（路径）</source>
        <translation>Voice output</translation>
    </message>
    <message>
        <source>开始生成</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>开始创建</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>终止处理</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>设定   </source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>更新信息</source>
        <translation>About Sonvelt</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>WAVE文件　　 (*.wav);;所有文件　　　　 (*.*)</source>
        <translation>WAVE files (*.wav);;All files (*.*)</translation>
    </message>
    <message>
        <source>音频文件 (*.wav *.wave *.flac *.mp3 *.m4a *.aac *.mp4 *.ogg *.oga *.opus *.aif *.aiff *.aifc)</source>
        <translation>Audio files (*.wav *.wave *.flac *.mp3 *.m4a *.aac *.mp4 *.ogg *.oga *.opus *.aif *.aiff *.aifc)</translation>
    </message>
    <message>
        <source>WAVE文件　　 (*.wav)</source>
        <translation>WAVE files (*.wav)</translation>
    </message>
    <message>
        <source>请拖放音频文件：WAVE、FLAC、MP3、AAC/M4A、Ogg Vorbis、Opus 或 AIFF</source>
        <translation>Please drop an audio file: WAVE, FLAC, MP3, AAC/M4A, Ogg Vorbis, Opus or AIFF.</translation>
    </message>
    <message>
        <source>解码中…</source>
        <translation>Decoding…</translation>
    </message>
    <message>
        <source>确定终止处理过程　　</source>
        <translation>Stop the processing?</translation>
    </message>
    <message>
        <source>是否确定终止处理。　</source>
        <translation>Stop the processing and exit?</translation>
    </message>
    <message>
        <source>一个调试模式　 ON</source>
        <translation>Debug mode ON</translation>
    </message>
    <message>
        <source>一个调试模式　 OFF</source>
        <translation>Debug mode OFF</translation>
    </message>
    <message>
        <source>帮助文件未找到　　　　　　　　　</source>
        <translation>The help file was not found.</translation>
    </message>
    <message>
        <source>在显示帮助时发生错误。　　　　　　</source>
        <translation>An error occurred while showing the help.</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>はい(&amp;Y)</source>
        <translation>&amp;Yes</translation>
    </message>
    <message>
        <source>いいえ(&amp;N)</source>
        <translation>&amp;No</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Sonvelt设定</source>
        <translation>Sonvelt Settings</translation>
    </message>
    <message>
        <source>处理方法</source>
        <translation>Method</translation>
    </message>
    <message>
        <source>高级设置</source>
        <translation>Advanced</translation>
    </message>
    <message>
        <source>辅助功能</source>
        <translation>File names</translation>
    </message>
    <message>
        <source>复位</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>前奏分析</source>
        <translation>Intro analysis</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>细节</source>
        <translation>Detailed</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>校正时间位移</source>
        <translation>Shift correction</translation>
    </message>
    <message>
        <source>手动</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>修正范围</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>提取方法</source>
        <translation>Extraction method</translation>
    </message>
    <message>
        <source>频率合成</source>
        <translation>Spectral</translation>
    </message>
    <message>
        <source>波形合成</source>
        <translation>Waveform</translation>
    </message>
    <message>
        <source>音质调整</source>
        <translation>Sound quality</translation>
    </message>
    <message>
        <source>音质优先</source>
        <translation>Quality</translation>
    </message>
    <message>
        <source>提取优先</source>
        <translation>Extraction</translation>
    </message>
    <message>
        <source>提取的水平</source>
        <translation>Strength</translation>
    </message>
    <message>
        <source>弱</source>
        <translation>−</translation>
    </message>
    <message>
        <source>强</source>
        <translation>+</translation>
    </message>
    <message>
        <source>误差修正等级调整</source>
        <translation>Level correction</translation>
    </message>
    <message>
        <source>自动（平均）</source>
        <translation>Auto (mean)</translation>
    </message>
    <message>
        <source>自动（适应）</source>
        <translation>Auto (adapt)</translation>
    </message>
    <message>
        <source>处理方式</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>左右区分</source>
        <translation>L/R apart</translation>
    </message>
    <message>
        <source>单声道化</source>
        <translation>Mix to mono</translation>
    </message>
    <message>
        <source>卡拉OK相位</source>
        <translation>Karaoke phase</translation>
    </message>
    <message>
        <source>正相</source>
        <translation>In phase</translation>
    </message>
    <message>
        <source>逆相</source>
        <translation>Inverted</translation>
    </message>
    <message>
        <source>精确对齐</source>
        <translation>Precise alignment</translation>
    </message>
    <message>
        <source>清除停顿</source>
        <translation>Clean pauses</translation>
    </message>
    <message>
        <source>总是</source>
        <translation>Always</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>过滤处理</source>
        <translation>Filters</translation>
    </message>
    <message>
        <source>中置声道提取</source>
        <translation>Centre focus</translation>
    </message>
    <message>
        <source>高音削减</source>
        <translation>Treble cut</translation>
    </message>
    <message>
        <source>低音削减</source>
        <translation>Bass cut</translation>
    </message>
    <message>
        <source>采样率</source>
        <translation>Oversampling</translation>
    </message>
    <message>
        <source>使用</source>
        <translation>Use</translation>
    </message>
    <message>
        <source>倍</source>
        <translation>times</translation>
    </message>
    <message>
        <source>只有波形合成模式有效</source>
        <translation>Waveform merge only</translation>
    </message>
    <message>
        <source>处理模块尺寸</source>
        <translation>Block size</translation>
    </message>
    <message>
        <source>毫秒</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>文件名设置功能</source>
        <translation>File names</translation>
    </message>
    <message>
        <source>卡拉OK文件自动搜索</source>
        <translation>Find the karaoke file automatically</translation>
    </message>
    <message>
        <source>人声的文件名自动设置</source>
        <translation>Name the voice file automatically</translation>
    </message>
    <message>
        <source>追加文字列</source>
        <translation>Suffix</translation>
    </message>
    <message>
        <source>WAVE播放</source>
        <translation>WAVE Player</translation>
    </message>
    <message>
        <source>原唱</source>
        <translation>Orig.</translation>
    </message>
    <message>
        <source>人声</source>
        <translation>Voice</translation>
    </message>
    <message>
        <source>从同一位置播放原唱</source>
        <translation>Play the original from the same moment</translation>
    </message>
    <message>
        <source>从同一位置播放人声</source>
        <translation>Play the voice from the same moment</translation>
    </message>
    <message>
        <source>人声提取</source>
        <translation>Vocal extractor</translation>
    </message>
    <message>
        <source>版本</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>© Sonvelt 开发团队</source>
        <translation>© The Sonvelt developers</translation>
    </message>
    <message>
        <source>图</source>
        <translation>Picture</translation>
    </message>
    <message>
        <source>运行图：频谱、对齐和每秒去除量</source>
        <translation>Picture of the run: spectrograms, alignment and the removal second by second</translation>
    </message>
    <message>
        <source>运行图</source>
        <translation>Picture of the run</translation>
    </message>
    <message>
        <source>单击歌曲中的某一时刻，即从那里播放人声（可切换到原唱）</source>
        <translation>Click a moment of the song to play the voice from there (the player switches to the original)</translation>
    </message>
</context>
</TS>
