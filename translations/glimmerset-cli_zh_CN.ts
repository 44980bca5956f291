<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>glimmerset-cli</name>
    <message>
        <source>Usage: glimmerset-cli eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--batch] [--] FORMULA

Compiles FORMULA, stores each --set value into the variable or named constant NAME, runs the
formula N times (default 1) and prints each result as its real and imaginary part.

Options:
  --set NAME=RE[,IM]  store a value before the first run (may be repeated)
  --runs N            run the formula N times
  --code              first print the compiled instructions, one &apos;DEST OPCODE SOURCE&apos; a line
  --batch             first print the program the batched renderer runs, on one line
  --                  end of options: the next argument is the formula, even if it begins with &apos;-&apos;
  -h, --help          show this help and exit
  -V, --version       show the version and exit

Exit status: 0 on success, 1 when the formula does not compile, 2 on a usage error.
</source>
        <translation>用法： glimmerset-cli eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--batch] [--] FORMULA

编译 FORMULA，把每个 --set 的值存入名为 NAME 的变量或命名常量，将公式运行 N 次
（默认 1 次），并把每次的结果打印为实部和虚部。

选项：
  --set NAME=RE[,IM]  在第一次运行前存入一个值（可重复）
  --runs N            将公式运行 N 次
  --code              先打印编译出的指令，每行一条 &apos;DEST OPCODE SOURCE&apos;
  --batch             先在一行中打印批量绘制器运行的程序
  --                  选项结束：下一个参数即是公式，即使它以 &apos;-&apos; 开头
  -h, --help          显示本帮助并退出
  -V, --version       显示版本并退出

退出状态：成功为 0，公式无法编译为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli extract PICTURE -o SCRIPT.gsc

Writes the script an exported picture carries (PNG, JPEG) to SCRIPT.gsc: exactly the bytes
that saving the script there from the window would write. A relative palette name is rewritten
so that it names the same file from SCRIPT&apos;s folder. &apos;-o -&apos; writes to standard output, with
the palette name as seen from the working folder; PICTURE &apos;-&apos; reads standard input.

Exit status: 0 on success, 1 when the picture carries no script that loads or the file cannot
be written, 2 on a usage error.
</source>
        <translation>用法： glimmerset-cli extract PICTURE -o SCRIPT.gsc

把导出的图片（PNG、JPEG）所携带的脚本写入 SCRIPT.gsc：与在窗口中把脚本保存到该处
所写的字节完全相同。相对的调色板名会被改写，使它从 SCRIPT 所在的文件夹指向同一个
文件。&apos;-o -&apos; 写到标准输出，调色板名以工作文件夹为准；PICTURE 为 &apos;-&apos; 时读取标准输入。

退出状态：成功为 0，图片中没有能载入的脚本或文件无法写入为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli new -o FILE.gsc [--from-json JSON]

Writes the default script (a new Julia set with the built-in palette) to FILE.gsc.

Options:
  -o, --output FILE.gsc  the script file to write (- for standard output)
  --from-json JSON       write the script that JSON (- for standard input) describes, in the
                         form &apos;glimmerset-cli dump --json&apos; prints; a key left out keeps the
                         default script&apos;s value

Exit status: 0 on success, 1 when the file cannot be written or the JSON does not describe a
script, 2 on a usage error.
</source>
        <translation>用法： glimmerset-cli new -o FILE.gsc [--from-json JSON]

把默认脚本（使用内置调色板的新 Julia 集）写入 FILE.gsc。

选项：
  -o, --output FILE.gsc  要写入的脚本文件（- 表示标准输出）
  --from-json JSON       写出 JSON（- 表示标准输入）所描述的脚本，其格式与
                         &apos;glimmerset-cli dump --json&apos; 的输出相同；省略的键保留
                         默认脚本的值

退出状态：成功为 0，文件无法写入或 JSON 描述的不是脚本为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli check SCRIPT

Loads SCRIPT and prints &quot;ok&quot; with a one-line summary, or the reason it does not load.

Exit status: 0 when it loads, 1 when it does not, 2 on a usage error.
</source>
        <translation>用法： glimmerset-cli check SCRIPT

载入 SCRIPT，打印 &quot;ok&quot; 和一行摘要，或打印它无法载入的原因。

退出状态：能载入为 0，不能载入为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli dump SCRIPT [--json]

Prints every member of SCRIPT (- for standard input) in UTF-8: one &apos;key: value&apos; line each,
values written as render&apos;s and set&apos;s options take them, or with --json a JSON object that
&apos;glimmerset-cli new --from-json&apos; turns back into the same script file.

Options:
  --json          print JSON: numbers in their shortest exact form; nan, inf, -0 as strings
  -h, --help      show this help and exit
  -V, --version   show the version and exit

Exit status: 0 on success, 1 when the script does not load, 2 on a usage error.
</source>
        <translation>用法： glimmerset-cli dump SCRIPT [--json]

以 UTF-8 打印 SCRIPT（- 表示标准输入）的每个成员：每个成员一行 &apos;key: value&apos;，值的
写法与 render 和 set 的选项所接受的相同；或使用 --json 打印一个 JSON 对象，
&apos;glimmerset-cli new --from-json&apos; 可把它还原为同一个脚本文件。

选项：
  --json          打印 JSON：数字采用最短的精确形式；nan、inf、-0 写为字符串
  -h, --help      显示本帮助并退出
  -V, --version   显示版本并退出

退出状态：成功为 0，脚本无法载入为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>needs at least two key scripts</source>
        <translation>至少需要两个关键脚本</translation>
    </message>
    <message>
        <source>missing &apos;-o PATTERN&apos;</source>
        <translation>缺少 &apos;-o PATTERN&apos;</translation>
    </message>
    <message>
        <source>missing &apos;--frames N&apos;</source>
        <translation>缺少 &apos;--frames N&apos;</translation>
    </message>
    <message>
        <source>&apos;--frames&apos; needs a whole number from the number of keys (%1) to %2, not &apos;%3&apos;</source>
        <translation>&apos;--frames&apos; 需要从关键脚本的个数（%1）到 %2 的整数，而不是 &apos;%3&apos;</translation>
    </message>
    <message>
        <source>&apos;--ease&apos; needs linear or smooth, not &apos;%1&apos;</source>
        <translation>&apos;--ease&apos; 需要 linear 或 smooth，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>&apos;--fps&apos; goes with &apos;--video&apos;</source>
        <translation>&apos;--fps&apos; 须与 &apos;--video&apos; 一起使用</translation>
    </message>
    <message>
        <source>&apos;--fps&apos; needs a number above 0 and at most 1000, not &apos;%1&apos;</source>
        <translation>&apos;--fps&apos; 需要大于 0 且不超过 1000 的数，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>&apos;--video&apos; needs every frame: it does not go with a shard</source>
        <translation>&apos;--video&apos; 需要所有帧：不能与分片一起使用</translation>
    </message>
    <message>
        <source>ffmpeg is missing (install it, or encode the frames on disk yourself)</source>
        <translation>没有 ffmpeg（请安装它，或自行对磁盘上的各帧编码）</translation>
    </message>
    <message>
        <source>ffmpeg failed (exit status %1); nothing was written</source>
        <translation>ffmpeg 失败（退出状态 %1）；没有写入任何内容</translation>
    </message>
    <message>
        <source>shard %1/%2 from %3</source>
        <translation>分片 %1/%2，来自 %3</translation>
    </message>
    <message>
        <source>no image writer for the extension of &apos;%1&apos;</source>
        <translation>没有适用于 &apos;%1&apos; 的扩展名的图像写入器</translation>
    </message>
    <message>
        <source>cannot make the folder &apos;%1&apos;</source>
        <translation>无法创建文件夹 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>frame %1: %2</source>
        <translation>第 %1 帧：%2</translation>
    </message>
    <message>
        <source>%1 of %2 frames failed</source>
        <translation>%2 帧中有 %1 帧失败</translation>
    </message>
    <message>
        <source>%1 frames written, %2 already there (%3 frames/s)</source>
        <translation>已写入 %1 帧，%2 帧原已存在（每秒 %3 帧）</translation>
    </message>
    <message>
        <source>%1 frames written, %2 already there</source>
        <translation>已写入 %1 帧，%2 帧原已存在</translation>
    </message>
    <message>
        <source>&apos;--size&apos; needs WIDTHxHEIGHT, each side from %1 to %2, not &apos;%3&apos;</source>
        <translation>&apos;--size&apos; 需要 宽x高，每边 %1 到 %2，而不是 &apos;%3&apos;</translation>
    </message>
    <message>
        <source>&apos;--aa&apos; needs a whole number from %1 to %2, not &apos;%3&apos;</source>
        <translation>&apos;--aa&apos; 需要 %1 到 %2 的整数，而不是 &apos;%3&apos;</translation>
    </message>
    <message>
        <source>&apos;--threads&apos; needs a whole number from 1 to %1, not &apos;%2&apos;</source>
        <translation>&apos;--threads&apos; 需要 1 到 %1 的整数，而不是 &apos;%2&apos;</translation>
    </message>
    <message>
        <source>&apos;--png-level&apos; needs a whole number from %1 to %2, not &apos;%3&apos;</source>
        <translation>&apos;--png-level&apos; 需要 %1 到 %2 的整数，而不是 &apos;%3&apos;</translation>
    </message>
    <message>
        <source>&apos;--shard-count&apos; needs a whole number of at least 1, not &apos;%1&apos;</source>
        <translation>&apos;--shard-count&apos; 需要不小于 1 的整数，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>%1 gives shard %2/%3, which is not one of 0/N to (N-1)/N</source>
        <translation>%1 给出的分片 %2/%3 不在 0/N 到 (N-1)/N 之中</translation>
    </message>
    <message>
        <source>&apos;--shard&apos; needs K/N, such as 0/4, not &apos;%1&apos;</source>
        <translation>&apos;--shard&apos; 需要 K/N（例如 0/4），而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>%1 is &apos;%2&apos;, out of range (%3 to %4)</source>
        <translation>%1 为 &apos;%2&apos;，超出范围（%3 到 %4）</translation>
    </message>
    <message>
        <source>%1 is &apos;%2&apos;, not a whole number</source>
        <translation>%1 为 &apos;%2&apos;，不是整数</translation>
    </message>
    <message>
        <source>SLURM_ARRAY_TASK_STEP %1 does not lead from SLURM_ARRAY_TASK_MIN to SLURM_ARRAY_TASK_ID</source>
        <translation>SLURM_ARRAY_TASK_STEP %1 不能从 SLURM_ARRAY_TASK_MIN 到达 SLURM_ARRAY_TASK_ID</translation>
    </message>
    <message>
        <source>the Slurm array</source>
        <translation>Slurm 作业数组</translation>
    </message>
    <message>
        <source>&apos;--shard-count&apos; needs JOB_COMPLETION_INDEX or PARALLEL_SEQ in the environment, or &apos;--shard K/N&apos;</source>
        <translation>&apos;--shard-count&apos; 需要环境中有 JOB_COMPLETION_INDEX 或 PARALLEL_SEQ，或者改用 &apos;--shard K/N&apos;</translation>
    </message>
    <message>
        <source>%1; try &apos;%2 --help&apos;</source>
        <translation>%1；请尝试 &apos;%2 --help&apos;</translation>
    </message>
    <message>
        <source>standard input is longer than the %1 MiB a script may have</source>
        <translation>标准输入超过了脚本所允许的 %1 MiB</translation>
    </message>
    <message>
        <source>cannot read standard input: %1</source>
        <translation>无法读取标准输入：%1</translation>
    </message>
    <message>
        <source>cannot keep the script read from standard input</source>
        <translation>无法保存从标准输入读取的脚本</translation>
    </message>
    <message>
        <source>cannot write &apos;%1&apos;: %2</source>
        <translation>无法写入 &apos;%1&apos;：%2</translation>
    </message>
    <message>
        <source>warning: %1</source>
        <translation>警告：%1</translation>
    </message>
    <message>
        <source>unknown option &apos;%1&apos;</source>
        <translation>未知选项 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>no command given</source>
        <translation>没有给出命令</translation>
    </message>
    <message>
        <source>&apos;help&apos; takes one COMMAND</source>
        <translation>&apos;help&apos; 只接受一个 COMMAND</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;</source>
        <translation>未知命令 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>%1 (put &apos;--&apos; before a formula that begins with &apos;-&apos;)</source>
        <translation>%1（以 &apos;-&apos; 开头的公式前请加 &apos;--&apos;）</translation>
    </message>
    <message>
        <source>missing FORMULA</source>
        <translation>缺少 FORMULA</translation>
    </message>
    <message>
        <source>too many arguments</source>
        <translation>参数过多</translation>
    </message>
    <message>
        <source>&apos;--runs&apos; needs a whole number of at least 0, not &apos;%1&apos;</source>
        <translation>&apos;--runs&apos; 需要不小于 0 的整数，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>&apos;--set&apos; needs NAME=RE[,IM], not &apos;%1&apos;</source>
        <translation>&apos;--set&apos; 需要 NAME=RE[,IM]，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>the formula has no variable or constant named &apos;%1&apos;</source>
        <translation>公式中没有名为 &apos;%1&apos; 的变量或常量</translation>
    </message>
    <message>
        <source>missing PICTURE</source>
        <translation>缺少 PICTURE</translation>
    </message>
    <message>
        <source>missing &apos;-o SCRIPT.gsc&apos;</source>
        <translation>缺少 &apos;-o SCRIPT.gsc&apos;</translation>
    </message>
    <message>
        <source>cannot write to standard output</source>
        <translation>无法写到标准输出</translation>
    </message>
    <message>
        <source>text after the value</source>
        <translation>值之后还有文本</translation>
    </message>
    <message>
        <source>the text ends where a value should be</source>
        <translation>文本在应有值的地方结束</translation>
    </message>
    <message>
        <source>not a JSON value</source>
        <translation>不是 JSON 值</translation>
    </message>
    <message>
        <source>nested deeper than %1</source>
        <translation>嵌套超过 %1 层</translation>
    </message>
    <message>
        <source>a key (a string) should be here</source>
        <translation>此处应为键（字符串）</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is given twice</source>
        <translation>&apos;%1&apos; 出现了两次</translation>
    </message>
    <message>
        <source>&apos;:&apos; should follow a key</source>
        <translation>键之后应为 &apos;:&apos;</translation>
    </message>
    <message>
        <source>&apos;,&apos; or &apos;}&apos; should be here</source>
        <translation>此处应为 &apos;,&apos; 或 &apos;}&apos;</translation>
    </message>
    <message>
        <source>&apos;,&apos; or &apos;]&apos; should be here</source>
        <translation>此处应为 &apos;,&apos; 或 &apos;]&apos;</translation>
    </message>
    <message>
        <source>&apos;\u&apos; needs four hexadecimal digits</source>
        <translation>&apos;\u&apos; 需要四位十六进制数字</translation>
    </message>
    <message>
        <source>not a JSON escape</source>
        <translation>不是 JSON 转义</translation>
    </message>
    <message>
        <source>a lone surrogate \u%1 in a string</source>
        <translation>字符串中有孤立的代理项 \u%1</translation>
    </message>
    <message>
        <source>not UTF-8</source>
        <translation>不是 UTF-8</translation>
    </message>
    <message>
        <source>a string that does not end</source>
        <translation>字符串没有结束</translation>
    </message>
    <message>
        <source>a control character in a string (write it as an escape)</source>
        <translation>字符串中有控制字符（请写成转义）</translation>
    </message>
    <message>
        <source>the number %1 is beyond what a double holds</source>
        <translation>数 %1 超出了双精度数所能表示的范围</translation>
    </message>
    <message>
        <source>option &apos;%1&apos; needs a value</source>
        <translation>选项 &apos;%1&apos; 需要一个值</translation>
    </message>
    <message>
        <source>option &apos;%1&apos; takes no value</source>
        <translation>选项 &apos;%1&apos; 不接受值</translation>
    </message>
    <message>
        <source>it has none</source>
        <translation>它没有常量</translation>
    </message>
    <message>
        <source>its constants: %1</source>
        <translation>它的常量：%1</translation>
    </message>
    <message>
        <source>%1 needs a number, not &apos;%2&apos;</source>
        <translation>%1 需要一个数，而不是 &apos;%2&apos;</translation>
    </message>
    <message>
        <source>%1 needs a number above 0, not &apos;%2&apos;</source>
        <translation>%1 需要大于 0 的数，而不是 &apos;%2&apos;</translation>
    </message>
    <message>
        <source>%1 %2 is beyond the largest number a script holds (about 1.8e308)</source>
        <translation>%1 %2 超出了脚本所能保存的最大的数（约 1.8e308）</translation>
    </message>
    <message>
        <source>%1 %2 is deeper than the deepest view supported (about 1e-315000)</source>
        <translation>%1 %2 比所支持的最深视图（约 1e-315000）还深</translation>
    </message>
    <message>
        <source>the mapping&apos;s sine %1 is outside [-1, 1]; %2 is used</source>
        <translation>映射的正弦 %1 不在 [-1, 1] 之内；改用 %2</translation>
    </message>
    <message>
        <source>%1 %2 is outside %3 to %4; %5 is used</source>
        <translation>%1 %2 不在 %3 到 %4 之内；改用 %5</translation>
    </message>
    <message>
        <source>&apos;--formula&apos; needs iteration=TEXT, termination=TEXT or colour=TEXT, not &apos;%1&apos;</source>
        <translation>&apos;--formula&apos; 需要 iteration=TEXT、termination=TEXT 或 colour=TEXT，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>&apos;--const&apos; needs NAME=RE[,IM] with finite numbers, not &apos;%1&apos;</source>
        <translation>&apos;--const&apos; 需要由有限数构成的 NAME=RE[,IM]，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>&apos;--iterations&apos; needs a whole number, not &apos;%1&apos;</source>
        <translation>&apos;--iterations&apos; 需要整数，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>&apos;--mapping&apos; needs seven finite numbers X0,Y0,DX,DY,SIN,COS,STRETCH, not &apos;%1&apos;</source>
        <translation>&apos;--mapping&apos; 需要七个有限数 X0,Y0,DX,DY,SIN,COS,STRETCH，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>&apos;--palette&apos; needs a file</source>
        <translation>&apos;--palette&apos; 需要一个文件</translation>
    </message>
    <message>
        <source>&apos;--palette %1&apos; cannot be named in a script file: %2</source>
        <translation>&apos;--palette %1&apos; 无法写入脚本文件：%2</translation>
    </message>
    <message>
        <source>the iteration formula has no constant named &apos;%1&apos; (%2)</source>
        <translation>迭代公式中没有名为 &apos;%1&apos; 的常量（%2）</translation>
    </message>
    <message>
        <source>unreadable</source>
        <translation>无法读取</translation>
    </message>
    <message>
        <source>the view of &apos;--center&apos; and &apos;--width&apos; lies beyond the numbers a script holds</source>
        <translation>&apos;--center&apos; 和 &apos;--width&apos; 给出的视图超出了脚本所能保存的数</translation>
    </message>
    <message>
        <source>folder &apos;%1&apos;: %2</source>
        <translation>文件夹 &apos;%1&apos;：%2</translation>
    </message>
    <message>
        <source>the name has no extension to choose the image format by</source>
        <translation>文件名没有可用来选择图像格式的扩展名</translation>
    </message>
    <message>
        <source>no image writer for the extension &apos;%1&apos;</source>
        <translation>没有适用于扩展名 &apos;%1&apos; 的图像写入器</translation>
    </message>
    <message>
        <source>missing SCRIPT</source>
        <translation>缺少 SCRIPT</translation>
    </message>
    <message>
        <source>missing &apos;-o IMAGE&apos;</source>
        <translation>缺少 &apos;-o IMAGE&apos;</translation>
    </message>
    <message>
        <source>with several scripts &apos;-o&apos; names a folder: end it with &apos;/&apos;</source>
        <translation>给出多个脚本时 &apos;-o&apos; 指定的是文件夹：请以 &apos;/&apos; 结尾</translation>
    </message>
    <message>
        <source>&apos;--json&apos; and &apos;--quiet&apos; exclude each other</source>
        <translation>&apos;--json&apos; 和 &apos;--quiet&apos; 不能同时使用</translation>
    </message>
    <message>
        <source>&apos;--format&apos; needs an extension such as png, not &apos;%1&apos;</source>
        <translation>&apos;--format&apos; 需要 png 这样的扩展名，而不是 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>cannot write the picture to standard output</source>
        <translation>无法把图片写到标准输出</translation>
    </message>
    <message>
        <source>standard input cannot be one of several scripts</source>
        <translation>标准输入不能作为多个脚本之一</translation>
    </message>
    <message>
        <source>two scripts are named &apos;%1&apos;: both would be written to the same picture</source>
        <translation>有两个脚本都名为 &apos;%1&apos;：它们会写入同一张图片</translation>
    </message>
    <message>
        <source>&apos;--format %1&apos; contradicts the extension of &apos;%2&apos;</source>
        <translation>&apos;--format %1&apos; 与 &apos;%2&apos; 的扩展名不符</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>还剩 %1</translation>
    </message>
    <message>
        <source>%1 elapsed</source>
        <translation>已用 %1</translation>
    </message>
    <message>
        <source>missing &apos;-o FILE.gsc&apos;</source>
        <translation>缺少 &apos;-o FILE.gsc&apos;</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli set SCRIPT [CHANGES] [-o OUT.gsc]

Loads SCRIPT (- for standard input), applies the changes and writes the script to OUT.gsc, or
back to SCRIPT without -o. A picture that carries its script, or standard input, needs -o
(- for standard output): set writes back only into a script file. &apos;render&apos; takes the same
changes and draws exactly the picture of the script that &apos;set&apos; writes.

Options:
  -o, --output OUT.gsc  the script file to write (- for standard output)
%s  -h, --help            show this help and exit
  -V, --version         show the version and exit

Exit status: 0 on success, 1 when the script does not load, a formula does not compile, the
palette cannot be used or the file cannot be written, 2 on a usage error (also a constant the
formula does not have, and a picture or standard input without -o).
</source>
        <translation>用法： glimmerset-cli set SCRIPT [CHANGES] [-o OUT.gsc]

载入 SCRIPT（- 表示标准输入），应用修改，并把脚本写入 OUT.gsc；没有 -o 时写回
SCRIPT。带有脚本的图片或标准输入必须给出 -o（- 表示标准输出）：set 只写回脚本文件。
&apos;render&apos; 接受同样的修改，绘制的正是 &apos;set&apos; 写出的脚本的图像。

选项：
  -o, --output OUT.gsc  要写入的脚本文件（- 表示标准输出）
%s  -h, --help            显示本帮助并退出
  -V, --version         显示版本并退出

退出状态：成功为 0，脚本无法载入、公式无法编译、调色板无法使用或文件无法写入为 1，
用法错误为 2（公式中没有的常量，以及没有 -o 的图片或标准输入，也是）。
</translation>
    </message>
    <message>
        <source>standard input cannot be written back: give &apos;-o OUT.gsc&apos; (&apos;-o -&apos; for standard output)</source>
        <translation>无法写回标准输入：请给出 &apos;-o OUT.gsc&apos;（&apos;-o -&apos; 表示标准输出）</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is a picture, and set writes back only into a script file: give &apos;-o OUT.gsc&apos;</source>
        <translation>&apos;%1&apos; 是图片，而 set 只写回脚本文件：请给出 &apos;-o OUT.gsc&apos;</translation>
    </message>
    <message>
        <source>longer than the %1 MiB a JSON file may have</source>
        <translation>超过了 JSON 文件所允许的 %1 MiB</translation>
    </message>
    <message>
        <source>&apos;%1&apos;: %2</source>
        <translation>&apos;%1&apos;：%2</translation>
    </message>
    <message>
        <source>needs a number (or &quot;nan&quot;, &quot;inf&quot;, &quot;-inf&quot;, &quot;-0&quot;)</source>
        <translation>需要一个数（或 &quot;nan&quot;、&quot;inf&quot;、&quot;-inf&quot;、&quot;-0&quot;）</translation>
    </message>
    <message>
        <source>needs a whole number</source>
        <translation>需要整数</translation>
    </message>
    <message>
        <source>needs an array of %1 numbers</source>
        <translation>需要由 %1 个数构成的数组</translation>
    </message>
    <message>
        <source>needs an object</source>
        <translation>需要一个对象</translation>
    </message>
    <message>
        <source>is not a key of a script (%1)</source>
        <translation>不是脚本的键（%1）</translation>
    </message>
    <message>
        <source>needs a text</source>
        <translation>需要文本</translation>
    </message>
    <message>
        <source>the iteration formula has no such constant</source>
        <translation>迭代公式中没有这个常量</translation>
    </message>
    <message>
        <source>cannot be named in a script file: %1</source>
        <translation>无法写入脚本文件：%1</translation>
    </message>
    <message>
        <source>needs [WIDTH, HEIGHT]</source>
        <translation>需要 [WIDTH, HEIGHT]</translation>
    </message>
    <message>
        <source>size %1x%2 is outside %3 to %4 a side; %5x%6 is used</source>
        <translation>大小 %1x%2 不在每边 %3 到 %4 之内；改用 %5x%6</translation>
    </message>
    <message>
        <source>needs three decimal texts: offset x, offset y and a ratio above 0</source>
        <translation>需要三个十进制数文本：偏移 x、偏移 y 和大于 0 的比率</translation>
    </message>
    <message>
        <source>not JSON: %1 at byte %2</source>
        <translation>不是 JSON：%1，位于第 %2 字节</translation>
    </message>
    <message>
        <source>
A formula that does not compile is named by its message, then by where it fails (line and
column) and what is wrong there, above the formula&apos;s line with the offending text marked.
</source>
        <translation>
不能编译的公式先给出它的消息，再给出出错的位置（行和列）和那里错在什么地方，
下面是公式的那一行，有问题的文字标在下方。
</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli animate FROM.gsc TO.gsc [MORE.gsc ...] --frames N -o PATTERN
                              [--ease linear|smooth] [--size WxH] [--aa N] [--no-watermark]
                              [--threads N] [--png-level N] [--iterations N]
                              [--shard K/N | --shard-count N]
                              [--skip-existing] [--list] [--video OUT.mp4 --fps F] [--quiet]

Renders N frames, numbered from 0, through the key scripts in order: frame 0 is the first key,
frame N-1 the last, and key j of K falls on frame round(j(N-1)/(K-1)) with its own values.
Between keys the constants and the palette mapping move linearly (its rotation by angle), the
view&apos;s centre linearly and its width geometrically, and the iteration limit is rounded. The
formulas and the palette must be the same in every key. Frame k is always the same picture,
whichever process renders it, and each frame file appears only complete.

Options:
  --frames N          the number of frames, at least the number of keys
  -o, --output PATTERN  the frame files: %05d (or %d) stands for the frame number, %% for %;
                      the extension chooses the image format; missing folders are made
  --ease linear|smooth  the speed within each pair of keys: even (default), or smoothstep
  --size WxH          render the frames at this size, 16 to 4096 a side (default: the first
                      key&apos;s target size); each key keeps its top-left corner and plane width
  --aa N              anti-alias with N x N samples per pixel, 1 to 4 (default: the keys&apos; own
                      setting, the earlier key&apos;s between two; 1 unless saved otherwise)
  --no-watermark      leave the watermark out
  --threads N         render on N threads (default: every core)
  --png-level N       PNG compression level, 0 (fastest) to 9 (smallest); default 1
  --iterations N      give every key the iteration limit N, 1 to 1000000000 (brought into
                      that range, with a warning)
  --shard K/N         render only the frames k with k mod N = K; 0/1 renders all of them and
                      reads nothing from the environment
  --shard-count N     the N of a shard whose K comes from JOB_COMPLETION_INDEX (Kubernetes
                      Indexed Job) or PARALLEL_SEQ - 1 (GNU Parallel)
  --skip-existing     leave frames whose file is already a whole picture (a re-run after a
                      failure); a frame cut short is rendered again
  --list              print the frame numbers and files this shard would render, and stop
  --video OUT.mp4     then encode the frames into a video with ffmpeg, when it is installed;
                      the video is written whole or not at all
  --fps F             the video&apos;s frames per second (default 25)
  --quiet             print nothing on success
  -h, --help          show this help and exit
  -V, --version       show the version and exit

Without --shard a Slurm job array shards by itself: K = (SLURM_ARRAY_TASK_ID -
SLURM_ARRAY_TASK_MIN) / SLURM_ARRAY_TASK_STEP, N = SLURM_ARRAY_TASK_COUNT. The shard and where
it came from are shown on standard error.
Exit status: 0 on success, 1 when a key does not load or a frame fails, 2 on a usage error.
</source>
        <translation>用法： glimmerset-cli animate FROM.gsc TO.gsc [MORE.gsc ...] --frames N -o PATTERN
                              [--ease linear|smooth] [--size WxH] [--aa N] [--no-watermark]
                              [--threads N] [--png-level N] [--iterations N]
                              [--shard K/N | --shard-count N]
                              [--skip-existing] [--list] [--video OUT.mp4 --fps F] [--quiet]

依次经过各关键脚本绘制 N 帧，从 0 开始编号：第 0 帧是第一个关键脚本，第 N-1 帧是
最后一个，K 个关键脚本中的第 j 个落在第 round(j(N-1)/(K-1)) 帧，取它自己的值。
关键脚本之间，常量和调色板映射线性变化（其旋转按角度），视图中心线性变化，宽度按
几何级数变化，迭代次数上限取整。每个关键脚本的公式和调色板必须相同。无论由哪个
进程绘制，第 k 帧总是同一张图片，且每个帧文件只以完整的形式出现。

选项：
  --frames N          帧数，至少为关键脚本的个数
  -o, --output PATTERN  帧文件：%05d（或 %d）代表帧号，%% 代表 %；
                      扩展名决定图像格式；缺少的文件夹会被创建
  --ease linear|smooth  每对关键脚本之间的速度：匀速（默认）或 smoothstep
  --size WxH          以此大小绘制各帧，每边 16 到 4096（默认：第一个关键脚本的
                      目标图像大小）；每个关键脚本保持其左上角和复平面宽度
  --aa N              抗锯齿，每个像素 N x N 个采样，1 到 4（默认：关键脚本自身的
                      设置，两者之间取前一个的；未另行保存时为 1）
  --no-watermark      不加水印
  --threads N         用 N 个线程绘制（默认：每个核心一个）
  --png-level N       PNG 压缩级别，0（最快）到 9（最小）；默认 1
  --iterations N      给每个关键脚本迭代次数上限 N，1 到 1000000000（超出时限制在
                      此范围之内，并给出警告）
  --shard K/N         只绘制满足 k mod N = K 的帧 k；0/1 绘制全部帧，且不从环境中
                      读取任何内容
  --shard-count N     分片的 N，其 K 取自 JOB_COMPLETION_INDEX（Kubernetes
                      Indexed Job）或 PARALLEL_SEQ - 1（GNU Parallel）
  --skip-existing     跳过文件已是完整图片的帧（用于失败后重新运行）；不完整的帧会
                      重新绘制
  --list              打印本分片将要绘制的帧号和文件，然后停止
  --video OUT.mp4     然后用 ffmpeg（已安装时）把各帧编码为视频；视频要么完整写入，
                      要么完全不写
  --fps F             视频每秒的帧数（默认 25）
  --quiet             成功时不打印任何内容
  -h, --help          显示本帮助并退出
  -V, --version       显示版本并退出

没有 --shard 时，Slurm 作业数组会自行分片：K = (SLURM_ARRAY_TASK_ID -
SLURM_ARRAY_TASK_MIN) / SLURM_ARRAY_TASK_STEP，N = SLURM_ARRAY_TASK_COUNT。分片及其
来源显示在标准错误上。
退出状态：成功为 0，关键脚本无法载入或某帧失败为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>Changes to the script (applied in this order, each through the script&apos;s own setter):
  --formula KIND=TEXT   replace a formula; KIND is iteration, termination or colour
  --const NAME=RE[,IM]  set a named constant of the iteration formula (may be repeated)
  --palette FILE        use the palette image FILE (resets the mapping, as in the window)
  --mapping X0,Y0,DX,DY,SIN,COS,STRETCH
                        set the seven numbers of the palette mapping
  --iterations N        set the iteration limit, 1 to 1000000000 (brought into that range,
                        with a warning); above 10000 the script file keeps 10000 on its
                        usual line and N on a line of its own
  --center RE,IM        move the view&apos;s centre to this plane point
  --width W             show W plane units across, keeping the centre and the proportions
                        (RE, IM and W: decimals of any length and exponent, such as 1e-1000;
                        a view deeper than doubles hold keeps them exactly)
</source>
        <translation>对脚本的修改（按此顺序应用，每项都通过脚本自身的设置函数）：
  --formula KIND=TEXT   替换一个公式；KIND 为 iteration、termination 或 colour
  --const NAME=RE[,IM]  设置迭代公式的一个命名常量（可重复）
  --palette FILE        使用调色板图像 FILE（与窗口中一样，会重置映射）
  --mapping X0,Y0,DX,DY,SIN,COS,STRETCH
                        设置调色板映射的七个数
  --iterations N        设置迭代次数上限，1 到 1000000000（超出时限制在此范围之内，
                        并给出警告）；超过 10000 时，脚本文件在通常的那一行保存
                        10000，在单独的一行保存 N
  --center RE,IM        把视图中心移到复平面上的这一点
  --width W             横向显示 W 个复平面单位，保持中心和长宽比例
                        （RE、IM 和 W 可为任意长度、任意指数的十进制数，例如 1e-1000；
                        比双精度数所能表示的更深的视图会精确保存它们）
</translation>
    </message>
    <message>
        <source>&apos;%1&apos; needs RE,IM, not &apos;%2&apos;</source>
        <translation>&apos;%1&apos; 需要 RE,IM，而不是 &apos;%2&apos;</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli probe SCRIPT --at RE,IM [--size WxH] [--fit] [CHANGES]

Prints, as one JSON object on one line, the count and the final z of the plane point RE,IM
(decimals of any length and exponent, as --center takes them) as a render of SCRIPT (- for
standard input) computes the pixel there: for a view that doubles hold, the double renderer&apos;s
bits at the nearest double; for a deep view, the deep renderer&apos;s perturbation against the
view&apos;s main reference at its centre, or arbitrary precision where that reference cannot take
the point. At a pixel&apos;s centre it gives what render --data writes for that pixel.

  {&quot;re&quot;: &quot;0.1&quot;, &quot;im&quot;: &quot;-0.2&quot;, &quot;n&quot;: 43, &quot;z&quot;: [-43.29538398629965, -39.51419511698013],
   &quot;limit&quot;: 256, &quot;path&quot;: &quot;doubles&quot;}

Keys:
  re, im   the point as computed, as texts: the nearest double&apos;s shortest form, or for a
           deep view the decimal at the render&apos;s precision
  n        the final V_iter_n (the count; the limit where the termination never held)
  z        the final z, [real, imaginary]; &quot;nan&quot;, &quot;inf&quot;, &quot;-inf&quot; and &quot;-0&quot; as texts
  limit    the iteration limit, V_iter_max
  path     &quot;doubles&quot;, &quot;perturbation&quot; or &quot;precise&quot;: how it was computed
  dz, de   the final V_dz, [real, imaginary], and V_de, after z: only for a picture whose
           termination or colour formula reads V_dz, V_dzy, V_de or V_dir

Options:
  --at RE,IM          the plane point
  --size WxH          the view of a render at this size (its reference, for a deep view, lies
                      at that view&apos;s centre), 16 to 4096 a side
  --fit               with --size: the view of render --fit
  -h, --help          show this help and exit
  -V, --version       show the version and exit

%s
Exit status: 0 on success, 1 when the script does not load or a change fails, 2 on a usage error.
</source>
        <translation>用法： glimmerset-cli probe SCRIPT --at RE,IM [--size WxH] [--fit] [CHANGES]

以一行中的一个 JSON 对象打印复平面上的点 RE,IM（任意长度、任意指数的十进制数，与
--center 的写法相同）的计数和最终的 z，与绘制 SCRIPT（- 表示标准输入）时该处像素的
计算方式相同：对双精度数能表示的视图，为双精度绘制器在最近的双精度数处得到的各位；
对深度视图，为深度绘制器相对于视图中心的主参考轨道的微扰，或在该参考轨道无法处理
此点时的任意精度计算。在像素中心，它给出 render --data 为该像素写出的值。

  {&quot;re&quot;: &quot;0.1&quot;, &quot;im&quot;: &quot;-0.2&quot;, &quot;n&quot;: 43, &quot;z&quot;: [-43.29538398629965, -39.51419511698013],
   &quot;limit&quot;: 256, &quot;path&quot;: &quot;doubles&quot;}

键：
  re, im   实际计算的点，为字符串：最近的双精度数的最短形式，深度视图时为绘制精度下
           的十进制数
  n        最终的 V_iter_n（计数；终止条件从未成立时为上限）
  z        最终的 z，[实部, 虚部]；&quot;nan&quot;、&quot;inf&quot;、&quot;-inf&quot; 和 &quot;-0&quot; 为字符串
  limit    迭代次数上限，V_iter_max
  path     &quot;doubles&quot;、&quot;perturbation&quot; 或 &quot;precise&quot;：计算方式
  dz, de   最终的 V_dz（[实部, 虚部]）和 V_de，位于 z 之后：仅当图片的终止条件公式或
           取色公式读取 V_dz、V_dzy、V_de 或 V_dir 时

选项：
  --at RE,IM          复平面上的点
  --size WxH          以此大小绘制时的视图（深度视图的参考轨道位于该视图的中心），
                      每边 16 到 4096
  --fit               与 --size 一起使用：render --fit 的视图
  -h, --help          显示本帮助并退出
  -V, --version       显示版本并退出

%s
退出状态：成功为 0，脚本无法载入或修改失败为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>missing &apos;--at RE,IM&apos;</source>
        <translation>缺少 &apos;--at RE,IM&apos;</translation>
    </message>
    <message>
        <source>&apos;--data&apos; needs a file name</source>
        <translation>&apos;--data&apos; 需要一个文件名</translation>
    </message>
    <message>
        <source>&apos;--data&apos; goes with one script</source>
        <translation>&apos;--data&apos; 只能用于一个脚本</translation>
    </message>
    <message>
        <source>&apos;--data&apos; needs another file than the picture</source>
        <translation>&apos;--data&apos; 需要一个与图片不同的文件</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli render SCRIPT -o IMAGE [--size WxH] [--fit] [--scale K] [--no-watermark]
                             [--threads N] [--format EXT] [--png-level N] [--aa N]
                             [--data FILE.npy] [--json | --quiet] [CHANGES]
       glimmerset-cli render SCRIPT... -o FOLDER/ [OPTIONS] [CHANGES]

Renders SCRIPT (- for standard input) at its target size into IMAGE, with the watermark in
the bottom-right corner. The image format follows IMAGE&apos;s extension (png, bmp, jpg, tiff,
webp, ppm, ...); &apos;-o -&apos; writes to standard output in the format of --format (default png).
With several scripts (into an existing folder, or one given with a final &apos;/&apos;), or an IMAGE
that ends in &apos;/&apos;, each SCRIPT becomes FOLDER/NAME.EXT (NAME: the script&apos;s name without its
extension, EXT: --format, default png); the folder is made when missing, and a script that
fails does not stop the others.
PNG and JPEG pictures carry the script as rendered (without --size and --fit), so that
&apos;glimmerset-cli extract&apos; and the window&apos;s Open get it back. SCRIPT may be such a picture.

Options:
  -o, --output IMAGE  the image file (or folder) to write
  --size WxH          render the same width of the plane at another size, 16 to 4096 a side
  --fit               with --size: keep the view&apos;s centre and show all of it, widening the
                      shorter side of the plane to the new proportions
  --scale K           the same framing at K times the size each way (K = 1 to 16, up to
                      65536 a side), for print; PNG and BMP only, written a band of rows at a
                      time (a BMP file holds at most 2 GiB); not with --data
  --no-watermark      leave the watermark out
  --threads N         render on N threads (default: every core)
  --format EXT        the image format for &apos;-o -&apos; (png, bmp, ppm, ...); with a file it must
                      agree with the file&apos;s extension
  --png-level N       PNG compression level, 0 (fastest) to 9 (smallest); default 1, the
                      fast one
  --aa N              anti-alias: N x N samples per pixel, averaged in linear light, 1 to 4
                      (default: the script&apos;s own setting, 1 unless saved otherwise)
  --data FILE.npy     also write every pixel&apos;s count and final z as a NumPy file (format
                      1.0): shape (height, width), row 0 the picture&apos;s top row, fields n
                      (&apos;&lt;i8&apos;, the final V_iter_n) and z (&apos;&lt;c16&apos;, the final z); with --aa above
                      1 those of the picture at one sample per pixel, at each pixel&apos;s centre;
                      a picture that reads V_dz, V_dzy, V_de or V_dir adds dz (&apos;&lt;c16&apos;, the
                      final V_dz) and de (&apos;&lt;f8&apos;, the final V_de)
  --json              print what was done as one JSON object on one line instead of the
                      outcome (on standard error with &apos;-o -&apos;); one line per picture,
                      failures included; a deep view adds deep_references,
                      deep_skipped_iterations, deep_rebases, deep_precise_pixels and
                      deep_reference_bits
  --quiet             print nothing on success
  -h, --help          show this help and exit
  -V, --version       show the version and exit

%s
Progress is shown on standard error when it is a terminal (one line for all pictures).
Exit status: 0 on success, 1 when a script does not load, a change fails or an export fails,
2 on a usage error (also two scripts of the same name into one folder).
</source>
        <translation>用法： glimmerset-cli render SCRIPT -o IMAGE [--size WxH] [--fit] [--scale K] [--no-watermark]
                             [--threads N] [--format EXT] [--png-level N] [--aa N]
                             [--data FILE.npy] [--json | --quiet] [CHANGES]
       glimmerset-cli render SCRIPT... -o FOLDER/ [OPTIONS] [CHANGES]

按 SCRIPT（- 表示标准输入）的目标图像大小将其绘制到 IMAGE，水印位于右下角。
图像格式由 IMAGE 的扩展名决定（png、bmp、jpg、tiff、webp、ppm 等）；&apos;-o -&apos; 以
--format 指定的格式（默认 png）写到标准输出。
给出多个脚本时（写入已有的文件夹，或以 &apos;/&apos; 结尾的文件夹），或 IMAGE 以 &apos;/&apos; 结尾时，
每个 SCRIPT 都成为 FOLDER/NAME.EXT（NAME：脚本名去掉扩展名，EXT：--format，默认
png）；文件夹不存在时会创建，某个脚本失败不会中止其余脚本。
PNG 和 JPEG 图片带有绘制时的脚本（不含 --size 和 --fit），因此
&apos;glimmerset-cli extract&apos; 和窗口的“打开”可以取回它。SCRIPT 也可以是这样的图片。

选项：
  -o, --output IMAGE  要写入的图像文件（或文件夹）
  --size WxH          以另一大小绘制复平面的同一宽度，每边 16 到 4096
  --fit               与 --size 一起使用：保持视图中心并显示视图的全部，把复平面
                      较短的一边加宽到新的比例
  --scale K           以每边 K 倍的大小绘制同一取景（K 为 1 到 16，每边最多 65536），
                      用于印刷；仅限 PNG 和 BMP，逐条带写入（BMP 文件最多 2 GiB）；
                      不能与 --data 同用
  --no-watermark      不加水印
  --threads N         用 N 个线程绘制（默认：每个核心一个）
  --format EXT        &apos;-o -&apos; 的图像格式（png、bmp、ppm 等）；写入文件时必须与文件的
                      扩展名一致
  --png-level N       PNG 压缩级别，0（最快）到 9（最小）；默认 1，即快速的级别
  --aa N              抗锯齿：每个像素 N x N 个采样，在线性光中取平均，1 到 4
                      （默认：脚本自身的设置，未另行保存时为 1）
  --data FILE.npy     另外把每个像素的计数和最终的 z 写成 NumPy 文件（格式 1.0）：
                      形状为 (高度, 宽度)，第 0 行是图片的顶行，字段 n（&apos;&lt;i8&apos;，最终的
                      V_iter_n）和 z（&apos;&lt;c16&apos;，最终的 z）；--aa 大于 1 时为每个像素
                      一个采样时图片在各像素中心的值；读取 V_dz、V_dzy、V_de 或 V_dir
                      的图片另加 dz（&apos;&lt;c16&apos;，最终的 V_dz）和 de（&apos;&lt;f8&apos;，最终的 V_de）
  --json              把所做的事以一行中的一个 JSON 对象打印，代替结果信息（使用
                      &apos;-o -&apos; 时打印到标准错误）；每张图片一行，失败的也是；深度视图
                      另有 deep_references、deep_skipped_iterations、deep_rebases、
                      deep_precise_pixels 和 deep_reference_bits
  --quiet             成功时不打印任何内容
  -h, --help          显示本帮助并退出
  -V, --version       显示版本并退出

%s
标准错误是终端时，在其上显示进度（所有图片共用一行）。
退出状态：成功为 0，脚本无法载入、修改失败或导出失败为 1，
用法错误为 2（两个同名脚本写入同一文件夹时也是）。
</translation>
    </message>
    <message>
        <source>&apos;--scale&apos; needs a whole number from %1 to %2, not &apos;%3&apos;</source>
        <translation>&apos;--scale&apos; 需要 %1 到 %2 的整数，而不是 &apos;%3&apos;</translation>
    </message>
    <message>
        <source>&apos;--data&apos; goes with &apos;--scale 1&apos; only</source>
        <translation>&apos;--data&apos; 只能与 &apos;--scale 1&apos; 同用</translation>
    </message>
    <message>
        <source>&apos;--scale&apos; above 1 writes PNG or BMP only (pictures written a band of rows at a time), not &apos;%1&apos;</source>
        <translation>&apos;--scale&apos; 大于 1 时只写 PNG 或 BMP（逐条带写入的图片），不写 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>a BMP file holds at most 2 GiB, too little for %1 x %2 pixels: write PNG</source>
        <translation>BMP 文件最多 2 GiB，容不下 %1 x %2 像素：请写成 PNG</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli COMMAND [OPTIONS] [ARGUMENTS]

Renders and checks Glimmerset fractal scripts without a display.

Commands:
  eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--] FORMULA
        compile a formula, print its code and run it
  new -o FILE.gsc [--from-json JSON]
        write the default script, or the script JSON describes
  check SCRIPT
        load a script and print a summary, or why it does not load
  render SCRIPT -o IMAGE [--size WxH] [--fit] [--no-watermark] [--threads N]
         [--format EXT] [--png-level N] [--aa N] [--scale K] [--data FILE.npy]
         [--json | --quiet] [CHANGES]
        render a script at its target size into an image file
  render SCRIPT... -o FOLDER/ [OPTIONS] [CHANGES]
        render several scripts into FOLDER/NAME.EXT in one run
  probe SCRIPT --at RE,IM [--size WxH] [--fit] [CHANGES]
        print the count and final z of a plane point as one JSON line
  find SCRIPT [--near RE,IM] [--width W] [--misiurewicz] [--max-period N]
       [--json] [CHANGES]
        find the nucleus, periodic or Misiurewicz point of lowest period in a view
  set SCRIPT [CHANGES] [-o OUT.gsc]
        write changes into a script file
  dump SCRIPT [--json]
        print every member of a script as text or JSON
  extract PICTURE -o SCRIPT.gsc
        write the script an exported picture carries
  animate FROM.gsc TO.gsc [MORE.gsc ...] --frames N -o PATTERN [--ease E]
          [--size WxH] [--iterations N] [--no-watermark] [--shard K/N]
          [--skip-existing] [--list]
          [--video OUT.mp4 --fps F]
        render the frames of an animation through key scripts
  help [COMMAND]
        show this help, or the options of COMMAND

CHANGES (render, set, probe and find): --formula KIND=TEXT,
  --const NAME=RE[,IM], --palette FILE, --mapping X0,Y0,DX,DY,SIN,COS,STRETCH,
  --iterations N, --center RE,IM, --width W

Options:
  -h, --help     show this help and exit
  -V, --version  show the version and exit

A SCRIPT may also be a PNG or JPEG picture exported by Glimmerset: it carries
its script.
Run &apos;glimmerset-cli COMMAND --help&apos; for the options of a command.
Files are written whole or not at all, through symbolic links; a
write-protected file is refused.
Messages and help are in the first of the user&apos;s languages (LANGUAGE,
LC_ALL, LC_MESSAGES, LANG) that the tool has, English or Chinese; else
Chinese.
</source>
        <translation>用法： glimmerset-cli COMMAND [OPTIONS] [ARGUMENTS]

无需显示器，绘制和检查 Glimmerset 分形脚本。

命令：
  eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--] FORMULA
        编译公式，打印其代码并运行它
  new -o FILE.gsc [--from-json JSON]
        写出默认脚本，或 JSON 所描述的脚本
  check SCRIPT
        载入脚本并打印摘要，或打印它无法载入的原因
  render SCRIPT -o IMAGE [--size WxH] [--fit] [--no-watermark] [--threads N]
         [--format EXT] [--png-level N] [--aa N] [--scale K] [--data FILE.npy]
         [--json | --quiet] [CHANGES]
        按脚本的目标图像大小将其绘制到图像文件
  render SCRIPT... -o FOLDER/ [OPTIONS] [CHANGES]
        一次运行把多个脚本绘制为 FOLDER/NAME.EXT
  probe SCRIPT --at RE,IM [--size WxH] [--fit] [CHANGES]
        以一行 JSON 打印复平面上一点的计数和最终的 z
  find SCRIPT [--near RE,IM] [--width W] [--misiurewicz] [--max-period N]
       [--json] [CHANGES]
        寻找视图中周期最低的中心点、周期点或 Misiurewicz 点
  set SCRIPT [CHANGES] [-o OUT.gsc]
        把修改写入脚本文件
  dump SCRIPT [--json]
        以文本或 JSON 打印脚本的每个成员
  extract PICTURE -o SCRIPT.gsc
        写出导出的图片所携带的脚本
  animate FROM.gsc TO.gsc [MORE.gsc ...] --frames N -o PATTERN [--ease E]
          [--size WxH] [--iterations N] [--no-watermark] [--shard K/N]
          [--skip-existing] [--list]
          [--video OUT.mp4 --fps F]
        绘制依次经过各关键脚本的动画的各帧
  help [COMMAND]
        显示本帮助，或 COMMAND 的选项

CHANGES（render、set、probe 和 find）： --formula KIND=TEXT,
  --const NAME=RE[,IM], --palette FILE, --mapping X0,Y0,DX,DY,SIN,COS,STRETCH,
  --iterations N, --center RE,IM, --width W

选项：
  -h, --help     显示本帮助并退出
  -V, --version  显示版本并退出

SCRIPT 也可以是 Glimmerset 导出的 PNG 或 JPEG 图片：图片带有它的脚本。
运行 &apos;glimmerset-cli COMMAND --help&apos; 查看某个命令的选项。
文件要么完整写入，要么完全不写，并会沿符号链接写入；写保护的文件会被拒绝。
消息和帮助使用用户的语言（LANGUAGE、LC_ALL、LC_MESSAGES、LANG）中本工具具备的
第一种，即英文或中文；都没有时使用中文。
</translation>
    </message>
    <message>
        <source>Usage: glimmerset-cli find SCRIPT [--near RE,IM] [--width W] [--misiurewicz]
                           [--max-period N] [--json] [CHANGES]

Finds, by Newton&apos;s method in the precision the view needs, the feature of lowest period in the
square view of side W around RE,IM (by default the view of SCRIPT, - for standard input: its
centre and its plane width): for an iteration formula that reads z0 the nucleus (a point whose
orbit, started as a pixel&apos;s with z = z0 = the point, comes back to it), for one that does not a
periodic point, or with --misiurewicz the Misiurewicz point of lowest preperiod + period (z after
preperiod + period runs equals z after preperiod runs). The derivatives come from the formula
itself, so any formula works; where it is not complex-differentiable (abs, arg, conj, real,
imag, norm, the suffix i) Newton&apos;s method uses the real 2 x 2 Jacobian.
Prints the period, the position to the precision it was found to, a size estimate (about the
radius of what lies there) and a --center and --width pair that frames it:

  period 3
  re -1.75487766624669276004950889924666721
  im 0
  size 0.0190355
  --center -1.75487766624669276004950889924666721,0 --width 0.09518

A Misiurewicz point adds a line &quot;preperiod Q&quot; (runs before its orbit enters the cycle).

Options:
  --near RE,IM        the middle of the view searched (decimals of any length and exponent)
  --width W           the side of the view searched
  --misiurewicz       find a Misiurewicz point
  --max-period N      the longest period (preperiod + period) tried, 1 to 1000000; by default
                      10000, with --misiurewicz 1000
  --json              print one JSON line: {&quot;period&quot;: P, &quot;re&quot;: &quot;...&quot;, &quot;im&quot;: &quot;...&quot;,
                      &quot;size&quot;: &quot;...&quot;, &quot;center&quot;: &quot;RE,IM&quot;, &quot;width&quot;: &quot;...&quot;}, decimals as
                      texts, with &quot;preperiod&quot;: Q for a Misiurewicz point
  -h, --help          show this help and exit
  -V, --version       show the version and exit

%s
The changes apply to SCRIPT before the search: its formulas, constants and limit are searched,
and --center and --width make the view whose centre and width --near and --width default to
(--width is the same option: the side searched is the view&apos;s width).

Exit status: 0 when a feature was found, 1 when none was (up to the longest period, or the
orbit of the view&apos;s centre escaped first), the script does not load or a change fails, 2 on a
usage error.
</source>
        <translation>用法： glimmerset-cli find SCRIPT [--near RE,IM] [--width W] [--misiurewicz]
                           [--max-period N] [--json] [CHANGES]

用视图所需的精度，以牛顿法在 RE,IM 周围边长为 W 的正方形视图中（默认为 SCRIPT 的视图，
- 表示标准输入：其中心和复平面宽度）寻找周期最低的特征：迭代公式读取 z0 时为中心点
（其轨道以像素的方式 z = z0 = 该点开始，又回到该点的点），不读取时为周期点，使用
--misiurewicz 时为前周期与周期之和最低的 Misiurewicz 点（运行前周期 + 周期次后的 z 等于
运行前周期次后的 z）。导数取自公式本身，因此任何公式都可以；公式不是复可微的地方（abs、
arg、conj、real、imag、norm、后缀 i），牛顿法使用 2 x 2 实雅可比矩阵。
打印周期、求得精度下的位置、大小估计（约为该处结构的半径），以及框住它的一对
--center 和 --width：

  period 3
  re -1.75487766624669276004950889924666721
  im 0
  size 0.0190355
  --center -1.75487766624669276004950889924666721,0 --width 0.09518

Misiurewicz 点另有一行 &quot;preperiod Q&quot;（其轨道进入循环之前的运行次数）。

选项：
  --near RE,IM        所搜索视图的中心（任意长度、任意指数的十进制数）
  --width W           所搜索视图的边长
  --misiurewicz       寻找 Misiurewicz 点
  --max-period N      尝试的最长周期（前周期 + 周期），1 到 1000000；默认 10000，
                      使用 --misiurewicz 时为 1000
  --json              打印一行 JSON：{&quot;period&quot;: P, &quot;re&quot;: &quot;...&quot;, &quot;im&quot;: &quot;...&quot;,
                      &quot;size&quot;: &quot;...&quot;, &quot;center&quot;: &quot;RE,IM&quot;, &quot;width&quot;: &quot;...&quot;}，十进制数为
                      字符串，Misiurewicz 点另有 &quot;preperiod&quot;: Q
  -h, --help          显示本帮助并退出
  -V, --version       显示版本并退出

%s
搜索之前先把这些修改应用到 SCRIPT：搜索的是修改后的公式、常量和上限；--center 和 --width
给出视图，--near 和 --width 默认取其中心和宽度（--width 是同一个选项：所搜索的边长就是视图的
宽度）。

退出状态：找到特征为 0，没有找到（直到最长周期，或视图中心的轨道先逃逸了）、脚本无法载入或
修改失败为 1，用法错误为 2。
</translation>
    </message>
    <message>
        <source>&apos;--max-period&apos; needs a whole number from 1 to %1, not &apos;%2&apos;</source>
        <translation>&apos;--max-period&apos; 需要 1 到 %1 的整数，而不是 &apos;%2&apos;</translation>
    </message>
    <message>
        <source>%1: no feature of period up to %2 in the view</source>
        <translation>%1：视图中没有周期不超过 %2 的特征</translation>
    </message>
</context>
</TS>
