<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>关于 Glimmerset</source>
        <translation>About Glimmerset</translation>
    </message>
</context>
<context>
    <name>CConstantMapWindow</name>
    <message>
        <source>常量图</source>
        <translation>Constant map</translation>
    </message>
    <message>
        <source>起点 z</source>
        <translation>Start z</translation>
    </message>
    <message>
        <source>实部</source>
        <translation>Re</translation>
    </message>
    <message>
        <source>虚部</source>
        <translation>Im</translation>
    </message>
    <message>
        <source>迭代公式没有常量</source>
        <translation>The iteration formula has no constant.</translation>
    </message>
    <message>
        <source>无法画出常量%1的参数平面</source>
        <translation>Cannot draw the parameter plane of the constant %1.</translation>
    </message>
</context>
<context>
    <name>CContactButton</name>
    <message>
        <source>联系我们（在浏览器中打开）</source>
        <translation>Contact us (opens in the browser)</translation>
    </message>
    <message>
        <source>联系我们</source>
        <translation>Contact us</translation>
    </message>
</context>
<context>
    <name>CFractalApp</name>
    <message>
        <source>用法：glimmerset [选项]... [脚本]
</source>
        <translation>Usage: glimmerset [OPTION]... [SCRIPT]
</translation>
    </message>
    <message>
        <source>glimmerset：未知的选项“%1”
</source>
        <translation>glimmerset: unknown option &apos;%1&apos;
</translation>
    </message>
    <message>
        <source>
探索 Julia 集一族的逃逸时间分形。启动时打开脚本（.gsc 文件），没有脚本时新建一个 Julia 集。

选项：
  -h, --help     显示本帮助并退出
  -V, --version  显示版本并退出
  --             选项到此为止：下一个参数是脚本

也接受 Qt 自己的选项（-platform 名称、-style 名称……）。

窗口中：方向键修改当前常量，A 和 Z 修改其精度，C 选择常量，R 重置调色板映射（保留拉伸），
Esc 关闭。按住方向键时立即修改一次，十分之一秒后每 10 毫秒修改一次；按住一次是一个撤销步骤。
Ctrl+Z 撤销，Ctrl+Shift+Z 或 Ctrl+Y 重做；Home 重置视图，+ 和 - 以中心缩放。
Ctrl+C 把图片和它的脚本复制到剪贴板，Ctrl+V 从剪贴板中的脚本文本或带脚本的图片打开脚本。
F11 全屏打开大视图（视图 › 大视图）；视图 › 常量图显示当前常量的参数平面，单击或拖动设置常量。
状态栏显示鼠标下的点、视图的宽度和预览的进度；单击数字复制它的完整值。

脚本也可以是 Glimmerset 导出的 PNG 或 JPEG 图片：打开它携带的脚本，作为新脚本。
窗口使用用户的语言（LANGUAGE、LC_ALL、LC_MESSAGES、LANG）中第一个它会的，英文或中文；
都不是时用中文。
</source>
        <translation>
Explores escape-time fractals of the Julia-set family. Opens SCRIPT (a .gsc file) at
start-up, or a new Julia set without one.

Options:
  -h, --help     show this help and exit
  -V, --version  show the version and exit
  --             end of options: the next argument is the script

Qt&apos;s own options (-platform NAME, -style NAME, ...) are accepted as well.

In the window: the arrow keys change the current constant, A and Z its step, C picks
the constant, R resets the palette mapping (keeping the stretch), Esc closes. A held
arrow key acts at once, then every 10 ms after a tenth of a second; one hold is one
undo step.
Ctrl+Z undoes an edit, Ctrl+Shift+Z or Ctrl+Y redoes it; Home resets the view, + and -
zoom about the centre. Ctrl+C copies the picture and its script to the clipboard;
Ctrl+V opens a script from the clipboard&apos;s text or from a picture that carries one.
F11 opens the large view full screen (View &gt; Large view); View &gt; Constant map shows
the parameter plane of the current constant, which a click or a drag sets.
The status line shows the point under the mouse, the width of the view and the
preview&apos;s progress; a click on a number copies its full value.

SCRIPT may also be a PNG or JPEG picture exported by Glimmerset: it opens the script
it carries, as a new script. The window speaks the first of the user&apos;s languages
(LANGUAGE, LC_ALL, LC_MESSAGES, LANG) that it has, English or Chinese; else Chinese.
</translation>
    </message>
</context>
<context>
    <name>CFractalDlg</name>
    <message>
        <source>未命名</source>
        <translation>Untitled</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>新建</source>
        <translation>&amp;New</translation>
    </message>
    <message>
        <source>Julia集(&amp;P)</source>
        <translation>&amp;Julia set</translation>
    </message>
    <message>
        <source>保存(&amp;W)</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>另存为...(&amp;A)</source>
        <translation>Save &amp;As...</translation>
    </message>
    <message>
        <source>导出文件(&amp;P)</source>
        <translation>Ex&amp;port</translation>
    </message>
    <message>
        <source>退出(&amp;Q)</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>编辑(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>参数设置(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>调色板(&amp;P)</source>
        <translation>Pa&amp;lette</translation>
    </message>
    <message>
        <source>系统调色板(&amp;X)</source>
        <translation>&amp;Built-in palette</translation>
    </message>
    <message>
        <source>导入调色板(&amp;I)</source>
        <translation>&amp;Import palette</translation>
    </message>
    <message>
        <source>重置调色板映射(&amp;R)	R</source>
        <translation>&amp;Reset palette mapping	R</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>关于(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>读取文件[%1]失败！
 %2</source>
        <translation>Cannot read the file [%1]!
 %2</translation>
    </message>
    <message>
        <source>所有支持的图像文件</source>
        <translation>All supported images</translation>
    </message>
    <message>
        <source>载入系统调色板失败!</source>
        <translation>Cannot load the built-in palette!</translation>
    </message>
    <message>
        <source>正在载入调色板[%1]...</source>
        <translation>Loading palette [%1]...</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>导入调色板</source>
        <translation>Import palette</translation>
    </message>
    <message>
        <source>调色板文件无法使用，已改用系统调色板：
%1</source>
        <translation>The palette file cannot be used; the built-in palette is used instead:
%1</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>载入调色板失败!</source>
        <translation>Cannot load the palette!</translation>
    </message>
    <message>
        <source>导出图像</source>
        <translation>Export picture</translation>
    </message>
    <message>
        <source>Glimmerset脚本文件 (*.gsc)</source>
        <translation>Glimmerset scripts (*.gsc)</translation>
    </message>
    <message>
        <source>带脚本的图片 (*.png *.jpg *.jpeg)</source>
        <translation>Pictures with their script (*.png *.jpg *.jpeg)</translation>
    </message>
    <message>
        <source>当前脚本已经被修改，是否需要保存修改？</source>
        <translation>The script has been changed. Save the changes?</translation>
    </message>
    <message>
        <source>保存修改</source>
        <translation>Save changes</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>读取文件[%1]失败！</source>
        <translation>Cannot read the file [%1]!</translation>
    </message>
    <message>
        <source>保存到文件[%1]失败！</source>
        <translation>Cannot save to the file [%1]!</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save as</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>绘图参数</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>缩放 %1</source>
        <translation>Zoom %1</translation>
    </message>
    <message>
        <source>精度 %1</source>
        <translation>Step %1</translation>
    </message>
    <message>
        <source>当前变量 %1</source>
        <translation>Constant %1</translation>
    </message>
    <message>
        <source>    实部 %1</source>
        <translation>    Re   %1</translation>
    </message>
    <message>
        <source>    虚部 %1</source>
        <translation>    Im   %1</translation>
    </message>
    <message>
        <source>调色板映射</source>
        <translation>Palette mapping</translation>
    </message>
    <message>
        <source>  拉伸  </source>
        <translation>stretch </translation>
    </message>
    <message>
        <source>调色板</source>
        <translation>Palette</translation>
    </message>
    <message>
        <source>打开(&amp;O)</source>
        <translation>&amp;Open...</translation>
    </message>
    <message>
        <source>导出设置(&amp;S)</source>
        <translation>Export se&amp;ttings...</translation>
    </message>
    <message>
        <source>撤销(&amp;U)</source>
        <translation>&amp;Undo</translation>
    </message>
    <message>
        <source>重做(&amp;R)</source>
        <translation>&amp;Redo</translation>
    </message>
    <message>
        <source>视图(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>重置视图(&amp;H)</source>
        <translation>&amp;Home view</translation>
    </message>
    <message>
        <source>放大(&amp;I)</source>
        <translation>Zoom &amp;in</translation>
    </message>
    <message>
        <source>缩小(&amp;O)</source>
        <translation>Zoom &amp;out</translation>
    </message>
    <message>
        <source>重置调色板映射(&amp;M)</source>
        <translation>Reset palette &amp;mapping</translation>
    </message>
    <message>
        <source>坐标 %1, %2</source>
        <translation>Position %1, %2</translation>
    </message>
    <message>
        <source>宽度 %1</source>
        <translation>Width %1</translation>
    </message>
    <message>
        <source>渲染中 %1/%2</source>
        <translation>Rendering %1/%2</translation>
    </message>
    <message>
        <source>预览用时 %1 秒</source>
        <translation>Preview took %1 s</translation>
    </message>
    <message>
        <source>拖动：旋转调色板映射</source>
        <translation>Drag: rotate the palette mapping</translation>
    </message>
    <message>
        <source>拖动：改变调色板映射的大小</source>
        <translation>Drag: resize the palette mapping</translation>
    </message>
    <message>
        <source>拖动：拉伸调色板映射</source>
        <translation>Drag: stretch the palette mapping</translation>
    </message>
    <message>
        <source>深度缩放</source>
        <translation>Deep zoom</translation>
    </message>
    <message>
        <source>深度缩放：%1 条参考轨道（%2 位），跳过 %3 次迭代</source>
        <translation>Deep zoom: %1 reference orbits (%2 bits), %3 iterations skipped</translation>
    </message>
    <message>
        <source>，%1 个像素逐点高精度计算</source>
        <translation>, %1 pixels in arbitrary precision</translation>
    </message>
    <message>
        <source>，%1 次换基</source>
        <translation>, %1 rebases</translation>
    </message>
    <message>
        <source>深度：%1 轨 · %2 位 · 跳 %3 · 换基 %4 · 高精度 %5</source>
        <translation>Deep: %1 refs · %2 bits · %3 skipped · %4 rebases · %5 precise</translation>
    </message>
    <message>
        <source>复制(&amp;C)</source>
        <translation>&amp;Copy</translation>
    </message>
    <message>
        <source>粘贴(&amp;V)</source>
        <translation>&amp;Paste</translation>
    </message>
    <message>
        <source>大视图(&amp;L)</source>
        <translation>&amp;Large view</translation>
    </message>
    <message>
        <source>全屏大视图(&amp;F)</source>
        <translation>Large view, &amp;full screen</translation>
    </message>
    <message>
        <source>常量图(&amp;C)</source>
        <translation>&amp;Constant map</translation>
    </message>
    <message>
        <source>剪贴板中没有脚本</source>
        <translation>The clipboard holds no script.</translation>
    </message>
    <message>
        <source>无法读取剪贴板中的脚本！</source>
        <translation>Cannot read the script on the clipboard!</translation>
    </message>
    <message>
        <source>已复制：</source>
        <translation>Copied:</translation>
    </message>
    <message>
        <source>扩展迭代上限...(&amp;L)</source>
        <translation>&amp;Extended iteration limit...</translation>
    </message>
    <message>
        <source>扩展迭代上限</source>
        <translation>Extended iteration limit</translation>
    </message>
    <message>
        <source>最大迭代次数（%1 到 %2）：</source>
        <translation>Maximum iterations (%1 to %2):</translation>
    </message>
    <message>
        <source>缩放到最近的特征</source>
        <translation>Zoom to the nearest feature</translation>
    </message>
    <message>
        <source>正在寻找最近的特征...</source>
        <translation>Looking for the nearest feature...</translation>
    </message>
    <message>
        <source>迭代公式中没有变量 z，无法寻找特征。</source>
        <translation>The iteration formula has no variable z: there is no feature to look for.</translation>
    </message>
    <message>
        <source>视图中没有找到周期不超过 %1 的特征。</source>
        <translation>No feature of period up to %1 in the view.</translation>
    </message>
    <message>
        <source>找到周期 %1 的特征，但它太小，无法显示：
%2, %3</source>
        <translation>Found a feature of period %1, but it is too small to show:
%2, %3</translation>
    </message>
</context>
<context>
    <name>CLargeView</name>
    <message>
        <source>Glimmerset - 大视图</source>
        <translation>Glimmerset - Large view</translation>
    </message>
</context>
<context>
    <name>COutportDlg</name>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>%1天</source>
        <translation>%1 d </translation>
    </message>
    <message>
        <source>%1小时</source>
        <translation>%1 h </translation>
    </message>
    <message>
        <source>%1分钟</source>
        <translation>%1 min </translation>
    </message>
    <message>
        <source>%1秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>用时</source>
        <translation>Elapsed </translation>
    </message>
    <message>
        <source>，预计还需</source>
        <translation>, remaining </translation>
    </message>
</context>
<context>
    <name>COutportSetDlg</name>
    <message>
        <source>导出设置</source>
        <translation>Export settings</translation>
    </message>
    <message>
        <source>图像宽度</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>图像高度</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>PNG压缩级别</source>
        <translation>PNG level</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>抗锯齿(N×N)</source>
        <translation>Anti-aliasing (N×N)</translation>
    </message>
    <message>
        <source>新尺寸保持画面范围</source>
        <translation>Keep the framing at a new size</translation>
    </message>
</context>
<context>
    <name>CQtWindowServices</name>
    <message>
        <source>使用简介：</source>
        <translation>How to use:</translation>
    </message>
    <message>
        <source> 左右键：修改当前常数实部</source>
        <translation> Left, Right: change the constant&apos;s real part</translation>
    </message>
    <message>
        <source> 上下键：修改当前常数虚部</source>
        <translation> Up, Down: change its imaginary part</translation>
    </message>
    <message>
        <source>      a/z：更改修改精度</source>
        <translation>      A, Z: change the step</translation>
    </message>
    <message>
        <source>        C：选择下一个常量</source>
        <translation>        C: next constant</translation>
    </message>
    <message>
        <source>Shift+C：选择上一个常量</source>
        <translation>Shift+C: previous constant</translation>
    </message>
    <message>
        <source>拖动调色板区修改映射原点</source>
        <translation>Drag the palette to move the mapping&apos;s origin</translation>
    </message>
    <message>
        <source>拖动调色板角度手柄(小圆点)修改映射角度</source>
        <translation>Drag the palette&apos;s angle handle (the small dot) to turn the mapping</translation>
    </message>
    <message>
        <source>在预览区按住鼠标左键拖动图像</source>
        <translation>Drag the preview with the left button to pan</translation>
    </message>
    <message>
        <source>鼠标滚轮缩放图像</source>
        <translation>Turn the wheel to zoom</translation>
    </message>
    <message>
        <source>编辑-&gt;参数设置：设置迭代公式等参数</source>
        <translation>Edit -&gt; Settings: the formulas and the other parameters</translation>
    </message>
    <message>
        <source>一起来玩分形吧！</source>
        <translation>Let&apos;s play with fractals!</translation>
    </message>
    <message>
        <source>无法打开网页：%1</source>
        <translation>Cannot open the page: %1</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>CSettingDlg</name>
    <message>
        <source>参数设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>常量</source>
        <translation>Constants</translation>
    </message>
    <message>
        <source>调色板映射</source>
        <translation>Palette mapping</translation>
    </message>
    <message>
        <source>最大迭代次数</source>
        <translation>Iterations</translation>
    </message>
    <message>
        <source>修改精度</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>角度sin值</source>
        <translation>sin θ</translation>
    </message>
    <message>
        <source>反角</source>
        <translation>Reverse</translation>
    </message>
    <message>
        <source>拉伸</source>
        <translation>Stretch</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>迭代公式</source>
        <translation>Iteration</translation>
    </message>
    <message>
        <source>终止条件</source>
        <translation>Termination</translation>
    </message>
    <message>
        <source>取色公式</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>其他</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>实部</source>
        <translation>Re</translation>
    </message>
    <message>
        <source>虚部</source>
        <translation>Im</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>临时变量溢出</source>
        <translation>too many temporary values</translation>
    </message>
    <message>
        <source>非法字符</source>
        <translation>invalid character</translation>
    </message>
    <message>
        <source>变量溢出</source>
        <translation>too many variables</translation>
    </message>
    <message>
        <source>常量溢出</source>
        <translation>too many constants</translation>
    </message>
    <message>
        <source>缺少数据</source>
        <translation>missing operand</translation>
    </message>
    <message>
        <source>未知运算符</source>
        <translation>unknown operator</translation>
    </message>
    <message>
        <source>编译错误</source>
        <translation>syntax error</translation>
    </message>
    <message>
        <source>内部编译错误</source>
        <translation>internal compiler error</translation>
    </message>
    <message>
        <source>错误的赋值语句</source>
        <translation>invalid assignment</translation>
    </message>
    <message>
        <source>运算符号溢出</source>
        <translation>too many operations</translation>
    </message>
    <message>
        <source>公式为空</source>
        <translation>empty formula</translation>
    </message>
    <message>
        <source>迭代公式错误:</source>
        <translation>iteration formula error: </translation>
    </message>
    <message>
        <source>未发现迭代变量</source>
        <translation>no iteration variable z</translation>
    </message>
    <message>
        <source>终止条件公式错误:</source>
        <translation>termination formula error: </translation>
    </message>
    <message>
        <source>取色公式错误:</source>
        <translation>colour formula error: </translation>
    </message>
    <message>
        <source>载入调色板映射失败</source>
        <translation>cannot read the palette mapping</translation>
    </message>
    <message>
        <source>载入复平面偏移失败</source>
        <translation>cannot read the plane offset</translation>
    </message>
    <message>
        <source>载入比率失败</source>
        <translation>cannot read the ratio</translation>
    </message>
    <message>
        <source>载入目标图像大小失败</source>
        <translation>cannot read the target image size</translation>
    </message>
    <message>
        <source>载入最大迭代次数失败</source>
        <translation>cannot read the iteration limit</translation>
    </message>
    <message>
        <source>载入常量失败</source>
        <translation>cannot read the constants</translation>
    </message>
    <message>
        <source>打开文件失败</source>
        <translation>cannot open the file</translation>
    </message>
    <message>
        <source>版本不正确</source>
        <translation>wrong version</translation>
    </message>
    <message>
        <source>导入调色板失败</source>
        <translation>cannot load the palette</translation>
    </message>
    <message>
        <source>图片中没有脚本</source>
        <translation>the picture carries no script</translation>
    </message>
    <message>
        <source>导出成功！用时</source>
        <translation>Exported! Time </translation>
    </message>
    <message>
        <source>保存文件失败！用时</source>
        <translation>Cannot save the file! Time </translation>
    </message>
    <message>
        <source>导出已经被用户取消！用时</source>
        <translation>Export cancelled by the user! Time </translation>
    </message>
    <message>
        <source>绘制失败！错误代码[</source>
        <translation>Render failed! Error code [</translation>
    </message>
    <message>
        <source>]。用时</source>
        <translation>]. Time </translation>
    </message>
    <message>
        <source>载入调色板失败!</source>
        <translation>Cannot load the palette!</translation>
    </message>
    <message>
        <source>未知的名称“%1”：常量名以 C 开头</source>
        <translation>unknown name &apos;%1&apos;: constant names start with C</translation>
    </message>
    <message>
        <source>未知的名称“%1”：变量名以 z 或 V 开头</source>
        <translation>unknown name &apos;%1&apos;: variable names start with z or V</translation>
    </message>
    <message>
        <source>未知的函数“%1”</source>
        <translation>unknown function &apos;%1&apos;</translation>
    </message>
    <message>
        <source>函数名“%1”后面要紧跟“(”</source>
        <translation>the function name &apos;%1&apos; must be followed directly by &apos;(&apos;</translation>
    </message>
    <message>
        <source>不能使用的字符“%1”</source>
        <translation>invalid character &apos;%1&apos;</translation>
    </message>
    <message>
        <source>“!”后面要跟“=”：不等于写作 !=</source>
        <translation>&apos;!&apos; must be followed by &apos;=&apos;: not equal is written !=</translation>
    </message>
    <message>
        <source>不完整的数“%1”</source>
        <translation>incomplete number &apos;%1&apos;</translation>
    </message>
    <message>
        <source>数后面直接跟着名称：请写作 %2</source>
        <translation>a number directly followed by a name: write %2</translation>
    </message>
    <message>
        <source>“%1”和“%2”之间缺少运算符</source>
        <translation>missing operator between &apos;%1&apos; and &apos;%2&apos;</translation>
    </message>
    <message>
        <source>“%1”没有配对的“)”</source>
        <translation>&apos;%1&apos; is never closed by &apos;)&apos;</translation>
    </message>
    <message>
        <source>“)”前面没有配对的“(”</source>
        <translation>&apos;)&apos; without a matching &apos;(&apos;</translation>
    </message>
    <message>
        <source>运算符“%1”缺少运算数</source>
        <translation>the operator &apos;%1&apos; is missing a value</translation>
    </message>
    <message>
        <source>“=”后面缺少值</source>
        <translation>&apos;=&apos; has no value after it</translation>
    </message>
    <message>
        <source>函数“%1)”缺少参数</source>
        <translation>the function &apos;%1)&apos; has no argument</translation>
    </message>
    <message>
        <source>不能给常量“%1”赋值：公式只读取常量</source>
        <translation>the constant &apos;%1&apos; cannot be assigned: formulas only read constants</translation>
    </message>
    <message>
        <source>只能给变量赋值，“%1”不是变量</source>
        <translation>only a variable can be assigned, and &apos;%1&apos; is not one</translation>
    </message>
    <message>
        <source>表达式中间的“=”：相等比较写作 ==</source>
        <translation>&apos;=&apos; inside an expression: equality is written ==</translation>
    </message>
    <message>
        <source>比较“%1”在这里要加括号</source>
        <translation>the comparison &apos;%1&apos; needs parentheses here</translation>
    </message>
    <message>
        <source>这里不能出现“%1”</source>
        <translation>&apos;%1&apos; cannot stand here</translation>
    </message>
    <message>
        <source>语句留下了不止一个值：缺少运算符</source>
        <translation>the statement leaves more than one value: an operator is missing</translation>
    </message>
    <message>
        <source>记号超过 1024 个</source>
        <translation>more than 1024 tokens</translation>
    </message>
    <message>
        <source>数和中间结果超过 1024 个</source>
        <translation>more than 1024 numbers and intermediate values</translation>
    </message>
    <message>
        <source>变量超过 100 个：“%1”</source>
        <translation>more than 100 variables: &apos;%1&apos;</translation>
    </message>
    <message>
        <source>常量超过 100 个：“%1”</source>
        <translation>more than 100 constants: &apos;%1&apos;</translation>
    </message>
    <message>
        <source>指令超过 1024 条</source>
        <translation>more than 1024 instructions</translation>
    </message>
    <message>
        <source>第 %1 行，第 %2 列：%3</source>
        <translation>line %1, column %2: %3</translation>
    </message>
</context>
</TS>
