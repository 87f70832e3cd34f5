<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>Lynx</name>
    <message>
        <source>usage: lynx-cli COMMAND [options]   (lynx-cli COMMAND --help for its options)
       lynx-cli --help | --version
Help and messages follow the locale (LC_ALL, LC_MESSAGES, LANG): Chinese when
it starts with zh, English otherwise. LYNX_LANG=zh|en overrides the locale,
and --lang zh|en overrides both.

commands:</source>
        <translation>用法：lynx-cli 命令 [选项]   （lynx-cli 命令 --help 列出该命令的选项）
      lynx-cli --help | --version
帮助和提示的语言随区域设置（LC_ALL、LC_MESSAGES、LANG）：以 zh 开头时为中文，
否则为英文。LYNX_LANG=zh|en 优先于区域设置，--lang zh|en 又优先于两者。

命令：</translation>
    </message>
    <message>
        <source>list the cameras that answer a search</source>
        <translation>列出应答搜索的相机</translation>
    </message>
    <message>
        <source>change one camera's address</source>
        <translation>修改一台相机的地址</translation>
    </message>
    <message>
        <source>check a batch address plan</source>
        <translation>检查批量地址方案</translation>
    </message>
    <message>
        <source>readdress cameras from a plan</source>
        <translation>按方案批量修改相机地址</translation>
    </message>
    <message>
        <source>upgrade the firmware of cameras</source>
        <translation>升级相机固件</translation>
    </message>
    <message>
        <source>usage: lynx-cli search [--seconds N] [--no-ip-filter] [--no-mac-filter]
                       [--format table|json|csv] [--interface NAME ...]
                       [--max-devices N] [--timing]

Broadcasts one search on the LAN, waits N seconds (default 12, brought into
1..3600) and prints the cameras that answered, under the window's rules:
  --no-ip-filter   also list a device whose IP address is listed already
  --no-mac-filter  also list a device whose MAC is listed already
                   (with both filters on, a device is dropped when its IP and
                   its MAC equal those of a listed one; MACs are compared
                   whole, whatever their separators and letter case)
  --format         table (default), json (every record field) or csv; json
                   and csv also say where each report came in ("interface",
                   "localAddress")
  --interface NAME search on this network card only (repeat for more); by
                   default every card that can broadcast
  --max-devices N  list at most N cameras (default 65536, 0: no limit); the
                   reports beyond are counted, and the exit status is 1
  --timing         print on stderr when the last row was listed
The exit status is 1 when the search went out on no network card.
</source>
        <translation>用法：lynx-cli search [--seconds N] [--no-ip-filter] [--no-mac-filter]
                      [--format table|json|csv] [--interface NAME ...]
                      [--max-devices N] [--timing]

在局域网上广播一次搜索，等待 N 秒（默认 12，限于 1..3600），然后按窗口的规则
列出应答的相机：
  --no-ip-filter   IP 地址已在列表中的设备也列出
  --no-mac-filter  MAC 已在列表中的设备也列出
                   （两个过滤都开启时，IP 和 MAC 都与某个已列出设备相同的设备
                   才被略去；MAC 按整体比较，不论分隔符和大小写）
  --format         table（默认）、json（记录的每个字段）或 csv；json 和 csv
                   还给出每条应答从哪里收到（"interface"、"localAddress"）
  --interface NAME 只在这块网卡上搜索（可重复以指定多块）；默认为每块能广播
                   的网卡
  --max-devices N  最多列出 N 台相机（默认 65536，0 为不限）；多出的应答只计数，
                   退出状态为 1
  --timing         在标准错误上打印最后一行列出的时间
搜索未能从任何网卡发出时，退出状态为 1。
</translation>
    </message>
    <message>
        <source>usage: lynx-cli set-ip --mac MAC --ip IP --mask MASK --gateway GW [--interface NAME ...]
                      [--confirm-wait S | --no-confirm] [--report FILE]
  broadcast on every network card, or on the named ones, then search until the
  camera answers at its new address: exit 1 when it has not within S seconds
  (default 60). --no-confirm only sends the change. --report writes the change
  to FILE (CSV, or JSON when it ends in .json)</source>
        <translation>用法：lynx-cli set-ip --mac MAC --ip IP --mask MASK --gateway GW [--interface NAME ...]
                     [--confirm-wait S | --no-confirm] [--report FILE]
  在每块网卡上广播（或只在指定的网卡上），然后搜索，直到相机在新地址应答：S 秒
  （默认 60）内没有应答时退出状态为 1。--no-confirm 只发送修改。--report 把修改
  写入 FILE（CSV，以 .json 结尾时为 JSON）</translation>
    </message>
    <message>
        <source>usage: lynx-cli plan --start IP --end IP --gateway IP --mask MASK
                    [--write-plan PLAN.csv [--seconds N] [--interface NAME ...]]
       lynx-cli plan --write-plan PLAN.csv [--seconds N] [--interface NAME ...]
  prints how many addresses the range holds; with --write-plan it searches
  for N seconds (default 12) and writes a plan file giving the cameras found,
  in the order found, their addresses from the range, as assign would.
  Without a range it proposes one, as the window&apos;s plan dialog does, in the
  network of the card the first camera found answered on (.2 to .254, the
  gateway .1), whatever subnet the camera itself is in</source>
        <translation>用法：lynx-cli plan --start IP --end IP --gateway IP --mask MASK
                   [--write-plan PLAN.csv [--seconds N] [--interface NAME ...]]
      lynx-cli plan --write-plan PLAN.csv [--seconds N] [--interface NAME ...]
  打印地址范围包含多少个地址；使用 --write-plan 时搜索 N 秒（默认 12），并写出
  方案文件：按找到的顺序，给找到的相机分配范围内的地址，与 assign 的做法相同。
  不给地址范围时，与窗口的批量修改对话框一样，在找到的第一台相机应答所经网卡的
  网段内建议一个范围（.2 至 .254，网关 .1），无论相机本身处于哪个网段</translation>
    </message>
    <message>
        <source>usage: lynx-cli assign --start IP --end IP --gateway IP --mask MASK --mac MAC [--mac MAC ...]
                      [--interface NAME ...] [--report FILE]
       lynx-cli assign --plan PLAN.csv [--dry-run] [--seconds N] [--confirm-wait S]
                      [--interface NAME ...] [--report FILE]
  gives the devices, in the order given, consecutive addresses from the start,
  skipping the gateway; a failed device's address goes to the next device;
  broadcast on every network card, or on the named ones.
  With --plan: a file of rows mac,ip,mask,gateway (a header line, UTF-8, '#'
  comments). It searches for N seconds (default 12) and shows old -&gt; new for
  every row, flagging a MAC not found, a MAC or address twice in the plan, an
  address another camera holds, a gateway outside the subnet and entries the
  address rules refuse. --dry-run stops there (exit 2 when a row is flagged).
  Otherwise a plan without flags is applied (one with flags: exit 2, nothing
  sent), and searched for again until every camera answers at its new address
  or S seconds pass (default 60); a camera that does not: exit 1.
  --report writes one row per camera to FILE (CSV, or JSON when it ends in .json)</source>
        <translation>用法：lynx-cli assign --start IP --end IP --gateway IP --mask MASK --mac MAC [--mac MAC ...]
                     [--interface NAME ...] [--report FILE]
      lynx-cli assign --plan PLAN.csv [--dry-run] [--seconds N] [--confirm-wait S]
                     [--interface NAME ...] [--report FILE]
  按给出的顺序，从起始地址起给设备分配连续的地址，跳过网关；修改失败的设备的
  地址留给下一台设备；在每块网卡上广播（或只在指定的网卡上）。
  使用 --plan 时：文件每行为 mac,ip,mask,gateway（一行表头，UTF-8，'#' 开头为
  注释）。先搜索 N 秒（默认 12），逐行显示 旧地址 -&gt; 新地址，并标出找不到的
  MAC、方案中重复的 MAC 或地址、已被其他相机占用的地址、不在子网内的网关，以及
  地址规则拒绝的条目。--dry-run 到此为止（有行被标出时退出状态为 2）。
  否则应用没有标记的方案（有标记时退出状态为 2，不发送任何修改），再次搜索，
  直到每台相机在新地址应答或超过 S 秒（默认 60）；有相机未应答时退出状态为 1。
  --report 把每台相机一行写入 FILE（CSV，以 .json 结尾时为 JSON）</translation>
    </message>
    <message>
        <source>usage: lynx-cli upgrade --file FW.zip [--seconds N] [--wait S] [--interface NAME ...]
                        [--parallel N] [--verify [--reboot-wait S] [--expect-version V]]
                        [--retry N] [--stall-seconds S] [--format text|json] [--report FILE]
                        (--all | --ip IP ... | --mac MAC ... | --site FILE)
Searches the LAN for N seconds (default 12, brought into 1..3600), then tells
each chosen camera to download and install FW.zip from this tool's own HTTP
server (port 9000 upward), one camera every 3 seconds, without asking.
  --all      every camera that answered the search
  --ip IP    the camera with this address (repeat, or list several)
  --mac MAC  the camera with this MAC (repeat, or list several): cameras
             fresh from the factory share one address
  --site FILE       the cameras of a site file, by MAC (an address plan, or a
                    list the window exported); --ip, --mac and --site add up
  --wait S   wait at most S seconds (default 600) for the cameras' reports
  --interface NAME  search on this network card only (repeat for more)
  --parallel N      instead of one request every 3 seconds, keep N cameras
                    upgrading at once, the next request going out as soon as
                    one camera has reported
  --verify          after the reports, search again until each camera that
                    reported success answers with a software version other
                    than before (and V with --expect-version), allowing it
                    S seconds to restart (--reboot-wait, default 120); one
                    that comes back with its old version, or not at all, failed
  --retry N         run the batch again, at most N more times, for the
                    cameras that failed, refused or did not verify
  --stall-seconds S a camera whose download takes nothing for S seconds
                    (default 60) is cut off and failed (&quot;download stalled&quot;)
  --format F        text (default): each status change as a line; json: one
                    JSON object a line for each camera at each change of its
                    state and each 10 % of its download, with &quot;mac&quot;, &quot;ip&quot;,
                    &quot;state&quot;, &quot;status&quot;, &quot;percent&quot; and &quot;bytes&quot;
  --report FILE     one row per camera (MAC, address and version before and
                    after, every status with its time, the outcome, the bytes
                    served to it and its download's time in seconds): CSV, or
                    JSON when FILE ends in .json
Each status change is printed as it happens, with the summary line; at a
terminal a live line counts the jobs done and the downloads in flight with
their mean percentage. The exit status is 0 when every chosen camera
reported success (and verified, with --verify), 1 otherwise, and 2 for input
that is not understood.
</source>
        <translation>用法：lynx-cli upgrade --file FW.zip [--seconds N] [--wait S] [--interface NAME ...]
                       [--parallel N] [--verify [--reboot-wait S] [--expect-version V]]
                       [--retry N] [--stall-seconds S] [--format text|json] [--report FILE]
                       (--all | --ip IP ... | --mac MAC ... | --site FILE)
在局域网上搜索 N 秒（默认 12，限于 1..3600），然后不经询问，让选中的每台相机从
本工具自带的 HTTP 服务器（端口 9000 起）下载并安装 FW.zip，每 3 秒一台。
  --all      应答了搜索的每台相机
  --ip IP    地址为 IP 的相机（可重复，或一次列出多个）
  --mac MAC  MAC 为 MAC 的相机（可重复，或一次列出多个）：出厂的相机地址相同
  --site FILE       站点文件中的相机，按 MAC 选择（地址方案，或窗口导出的列表）；
                    --ip、--mac 与 --site 选中的相机合在一起
  --wait S   最多等待 S 秒（默认 600）接收相机的报告
  --interface NAME  只在这块网卡上搜索（可重复以指定多块）
  --parallel N      不再每 3 秒发出一个请求，而是保持 N 台相机同时升级，一台
                    相机报告后立即发出下一个请求
  --verify          收到报告后再次搜索，直到每台报告成功的相机应答的软件版本
                    与之前不同（有 --expect-version 时须为 V），给它 S 秒重启
                    （--reboot-wait，默认 120）；版本未变或不再应答的相机算作
                    失败
  --retry N         对失败、拒绝或未通过验证的相机再运行批次，最多再运行 N 次
  --stall-seconds S 下载 S 秒（默认 60）毫无进展的相机被断开并算作失败（“下载停滞”）
  --format F        text（默认）：每次状态变化打印一行；json：每台相机的状态每次
                    变化、下载每进展 10 % 时打印一行 JSON 对象，含 &quot;mac&quot;、&quot;ip&quot;、
                    &quot;state&quot;、&quot;status&quot;、&quot;percent&quot; 和 &quot;bytes&quot;
  --report FILE     每台相机一行（MAC，升级前后的地址和版本，每个状态及其时间，
                    结果，发送给它的字节数及其下载用时（秒））：CSV，FILE 以
                    .json 结尾时为 JSON
每次状态变化发生时即打印，并附汇总行；在终端上另有一行实时显示已完成的任务和
正在进行的下载及其平均进度。选中的每台相机都报告成功（使用 --verify 时还须通过
验证）时退出状态为 0，否则为 1，输入无法理解时为 2。
</translation>
    </message>
    <message>
        <source>cameras found: %1, %2 s left</source>
        <translation>已找到相机：%1 台，剩余 %2 秒</translation>
    </message>
    <message>
        <source>answered at the new address: %1 of %2, %3 s left</source>
        <translation>在新地址应答：%1/%2，剩余 %3 秒</translation>
    </message>
    <message>
        <source>upgrades done: %1 of %2, %3 failed</source>
        <translation>已完成升级：%1/%2，失败 %3</translation>
    </message>
    <message>
        <source>unknown command '%1'</source>
        <translation>未知的命令“%1”</translation>
    </message>
    <message>
        <source>the list is full at %1 cameras; %2 more reports were not listed (--max-devices)</source>
        <translation>列表已满（%1 台相机）；另有 %2 条应答未列出（--max-devices）</translation>
    </message>
    <message>
        <source>the list is full at %1 cameras; %2 more reports were not listed</source>
        <translation>列表已满（%1 台相机）；另有 %2 条应答未列出</translation>
    </message>
    <message>
        <source>MAC not found in the search</source>
        <translation>搜索中未找到此 MAC</translation>
    </message>
    <message>
        <source>MAC also on line %1</source>
        <translation>此 MAC 也在第 %1 行</translation>
    </message>
    <message>
        <source>MAC also on line %1 (%2 lines in all)</source>
        <translation>此 MAC 也在第 %1 行（共 %2 行）</translation>
    </message>
    <message>
        <source>address also on line %1</source>
        <translation>此地址也在第 %1 行</translation>
    </message>
    <message>
        <source>address also on line %1 (%2 lines in all)</source>
        <translation>此地址也在第 %1 行（共 %2 行）</translation>
    </message>
    <message>
        <source>address held by %1</source>
        <translation>地址已被 %1 占用</translation>
    </message>
    <message>
        <source>mask %1 is not contiguous</source>
        <translation>子网掩码 %1 不连续</translation>
    </message>
    <message>
        <source>gateway %1 outside %2/%3</source>
        <translation>网关 %1 不在 %2/%3 之内</translation>
    </message>
    <message>
        <source>line %1  %2  %3 -&gt; %4  mask %5  gateway %6</source>
        <translation>第 %1 行  %2  %3 -&gt; %4  掩码 %5  网关 %6</translation>
    </message>
    <message>
        <source>the plan is larger than %1 MiB</source>
        <translation>方案大于 %1 MiB</translation>
    </message>
    <message>
        <source>line %1: a quoted field is not closed</source>
        <translation>第 %1 行：引号中的字段没有结束</translation>
    </message>
    <message>
        <source>line %1: the header names no column "%2" (it must name mac, ip, mask and gateway)</source>
        <translation>第 %1 行：表头中没有“%2”列（表头须有 mac、ip、mask 和 gateway）</translation>
    </message>
    <message>
        <source>line %1: has %2 fields, the header %3</source>
        <translation>第 %1 行：只有 %2 个字段，表头有 %3 个</translation>
    </message>
    <message>
        <source>line %1: the MAC is empty</source>
        <translation>第 %1 行：MAC 为空</translation>
    </message>
    <message>
        <source>line %1: %2 '%3' is not a dotted IPv4 address</source>
        <translation>第 %1 行：%2“%3”不是点分十进制的 IPv4 地址</translation>
    </message>
    <message>
        <source>line %1: the plan has more than %2 rows</source>
        <translation>第 %1 行：方案超过 %2 行</translation>
    </message>
    <message>
        <source>line %1: no header line (mac,ip,mask,gateway)</source>
        <translation>第 %1 行：没有表头行（mac,ip,mask,gateway）</translation>
    </message>
    <message>
        <source>line %1: the plan has no rows</source>
        <translation>第 %1 行：方案没有任何行</translation>
    </message>
    <message>
        <source>(not found)</source>
        <translation>（未找到）</translation>
    </message>
    <message>
        <source>%1 rows, %2 flagged</source>
        <translation>共 %1 行，%2 行被标出</translation>
    </message>
    <message>
        <source>the plan has %1 flagged rows; nothing was sent</source>
        <translation>方案中有 %1 行被标出，未发送任何修改</translation>
    </message>
    <message>
        <source>line %1 (%2): %3</source>
        <translation>第 %1 行（%2）：%3</translation>
    </message>
    <message>
        <source>%1 answers at %2</source>
        <translation>%1 已在 %2 应答</translation>
    </message>
    <message>
        <source>%1 did not answer at %2</source>
        <translation>%1 未在 %2 应答</translation>
    </message>
    <message>
        <source>%1 did not answer at %2 within %3 s</source>
        <translation>%1 在 %3 秒内未在 %2 应答</translation>
    </message>
    <message>
        <source>wrote %1 rows to %2</source>
        <translation>已将 %1 行写入 %2</translation>
    </message>
    <message>
        <source>the card the cameras answered on is not known: give --start, --end, --gateway and --mask</source>
        <translation>不知道相机应答所经的网卡：请给出 --start、--end、--gateway 和 --mask</translation>
    </message>
    <message>
        <source>proposed %1 - %2, gateway %3, mask %4, in the network of %5</source>
        <translation>建议 %1 - %2，网关 %3，掩码 %4，位于 %5 的网段</translation>
    </message>
    <message>
        <source>the password of %1 goes to %2 unencrypted, readable on the way: use mqtts://</source>
        <translation>%1 的密码以明文发往 %2，途中可被读取：请用 mqtts://</translation>
    </message>
    <message>
        <source>no camera answered the search; no plan written</source>
        <translation>没有相机应答搜索，未写出方案</translation>
    </message>
    <message>
        <source>cannot read '%1': %2</source>
        <translation>无法读取“%1”：%2</translation>
    </message>
    <message>
        <source>%1 takes no value</source>
        <translation>%1 不带值</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 需要一个值</translation>
    </message>
    <message>
        <source>%1 given twice</source>
        <translation>%1 给出了两次</translation>
    </message>
    <message>
        <source>%1 takes a whole number, not '%2'</source>
        <translation>%1 应为整数，而不是“%2”</translation>
    </message>
    <message>
        <source>%1 takes a whole number of at least %2, not '%3'</source>
        <translation>%1 应为不小于 %2 的整数，而不是“%3”</translation>
    </message>
    <message>
        <source>unknown option '%1'</source>
        <translation>未知的选项“%1”</translation>
    </message>
    <message>
        <source>%1 is required</source>
        <translation>缺少 %1</translation>
    </message>
    <message>
        <source>--format takes table, json or csv, not '%1'</source>
        <translation>--format 应为 table、json 或 csv，而不是“%1”</translation>
    </message>
    <message>
        <source>--format takes table or json, not '%1'</source>
        <translation>--format 应为 table 或 json，而不是“%1”</translation>
    </message>
    <message>
        <source>--ip takes an IPv4 address, not '%1'</source>
        <translation>--ip 应为 IPv4 地址，而不是“%1”</translation>
    </message>
    <message>
        <source>--all excludes --ip, --mac and --site</source>
        <translation>--all 不能与 --ip、--mac 或 --site 同时使用</translation>
    </message>
    <message>
        <source>choose the cameras with --all or --ip, --mac or --site</source>
        <translation>请用 --all 或 --ip、--mac、--site 选择相机</translation>
    </message>
    <message>
        <source>--expect-version needs --verify</source>
        <translation>--expect-version 需要同时给出 --verify</translation>
    </message>
    <message>
        <source>no network interface called '%1' (this PC has: %2)</source>
        <translation>没有名为“%1”的网卡（本机有：%2）</translation>
    </message>
    <message>
        <source>no network interface called '%1' (this PC has none)</source>
        <translation>没有名为“%1”的网卡（本机没有网卡）</translation>
    </message>
    <message>
        <source>Try 'lynx-cli %1 --help'.</source>
        <translation>用法见“lynx-cli %1 --help”。</translation>
    </message>
    <message>
        <source>Try 'lynx-cli --help'.</source>
        <translation>用法见“lynx-cli --help”。</translation>
    </message>
    <message>
        <source>usage: lynx-cli check --site FILE [--expect-version V] [--seconds N]
                      [--allow-unexpected] [--format table|json|csv]
                      [--report FILE] [--interface NAME ...]
Checks a site's cameras against its expected inventory: searches the LAN for
N seconds (default 12, brought into 1..3600) on every network card and gives
each camera one state: ok, address (its IP, mask or gateway is not the
planned one), version (another software version), missing (planned, not
heard), unexpected (heard, not planned) or conflict (another camera holds its
IP too; it comes before address, which comes before version).
  --site FILE         the cameras expected, by MAC: an address plan (columns
                      mac, ip, mask, gateway) or a list the window exported;
                      only mac is required; optional columns softwareVersion
                      (the version expected) and label (a name or place). A
                      file with faults is refused, each fault named by line
                      and column, and nothing is sent
  --expect-version V  the version expected of every camera the file gives
                      none of (the version, or the list's version text with
                      its build date)
  --allow-unexpected  devices that are not planned do not fail the check
  --format            table (default), json or csv (UTF-8 with a byte-order
                      mark)
  --report FILE       the same rows to FILE: CSV, or JSON when FILE ends
                      in .json
  --interface NAME    search on this network card only (repeat for more)
The counts go to standard error. The exit status is 0 when every planned
camera is ok and no device is unexpected (or --allow-unexpected), 1
otherwise, and 2 for options or a site file that are not understood.
</source>
        <translation>用法：lynx-cli check --site FILE [--expect-version V] [--seconds N]
                      [--allow-unexpected] [--format table|json|csv]
                      [--report FILE] [--interface NAME ...]
按现场的应有清单检查相机：在每块网卡上搜索局域网 N 秒（默认 12，限定在
1..3600），给每台相机一个状态：ok（正常）、address（IP、掩码或网关与计划
不符）、version（软件版本不同）、missing（计划中有，未应答）、unexpected
（有应答，计划中没有）或 conflict（另一台相机也占用它的 IP；先于 address，
address 又先于 version）。
  --site FILE         应有的相机，按 MAC：地址方案（列 mac、ip、mask、
                      gateway）或窗口导出的列表；只有 mac 列必需；可选列
                      softwareVersion（应有的版本）和 label（名称或位置）。
                      有错误的文件被拒绝，每个错误都注明行和列，不发送任何数据
  --expect-version V  文件未给出版本的每台相机应有的版本（版本号，或列表中
                      带编译日期的版本文字）
  --allow-unexpected  计划外的设备不算检查失败
  --format            table（默认）、json 或 csv（带字节顺序标记的 UTF-8）
  --report FILE       同样的各行写入 FILE：CSV，FILE 以 .json 结尾时为 JSON
  --interface NAME    只在这块网卡上搜索（可重复）
各项计数写到标准错误。每台计划中的相机都正常、且没有计划外设备（或使用
--allow-unexpected）时退出状态为 0，否则为 1，选项或现场文件无法理解时为 2。
</translation>
    </message>
    <message>
        <source>check a site's cameras against its inventory</source>
        <translation>按现场清单检查相机</translation>
    </message>
    <message>
        <source>usage: lynx-cli watch [--interval S] [--missed N] [--duration S]
                      [--format table|json] [--site FILE]
                      [--publish mqtt[s]://HOST[:PORT]/TOPIC [--mqtt-user NAME]
                       [--mqtt-password-file FILE] [--mqtt-cafile FILE]
                       [--mqtt-cert FILE --mqtt-key FILE] [--mqtt-keepalive S]]
                      [--interface NAME ...]

Searches the LAN every S seconds and prints, one line each, what changed:
  appeared     a camera answered for the first time
  disappeared  a camera did not answer N searches in a row
  returned     a camera that disappeared answers again
  address      a camera answers with another IP address, mask or gateway
  version      a camera answers with another software version
  missing      a camera of the site file did not answer the first N searches
  unexpected   a camera not in the site file answered for the first time
Cameras are told apart by MAC; a camera that misses fewer than N searches
and answers again is not reported.
  --interval S     seconds from one search to the next (default 10, 1..3600)
  --missed N       searches in a row a camera must miss to count as gone
                   (default 3, 1..1000)
  --duration S     stop after S seconds; by default it runs until Ctrl+C
                   (SIGINT) or SIGTERM
  --format         table (default) or json: one JSON object per line with
                   &quot;time&quot; (UTC), &quot;event&quot;, &quot;mac&quot;, &quot;ip&quot; and, as they apply,
                   &quot;label&quot;, &quot;softwareVersion&quot;, &quot;previousIp&quot;, &quot;previousMask&quot;,
                   &quot;previousGateway&quot;, &quot;previousVersion&quot;, &quot;lastHeard&quot;
  --site FILE      the cameras the site should have, by MAC, in a file that
                   check --site reads (an address plan or a list the window
                   exported; an optional column label names each camera):
                   each event of theirs carries its &quot;label&quot;. A file with
                   faults is refused, each fault named, and nothing is sent
  --publish URL    also publish each event, the JSON object --format json
                   prints, to the MQTT broker at mqtt://HOST[:PORT]/TOPIC
                   (port 1883 by default), or over TLS at
                   mqtts://HOST[:PORT]/TOPIC (port 8883 by default): on
                   TOPIC/MAC (MAC written 00:1A:2B:3C:4D:5E), retained, at
                   QoS 1. TOPIC/status holds &quot;online&quot; (retained) while the
                   watch is connected, and &quot;offline&quot; once it has ended or
                   been lost (left with the broker as its last will). A
                   broker that is away is said and tried again, its events
                   kept meanwhile (the oldest dropped beyond 10000); at the
                   end it is given 5 seconds to take the rest
  --mqtt-cafile FILE
                   the certificate authorities (PEM) that vouch for an
                   mqtts:// broker; by default the system's (/etc/ssl/certs).
                   The broker's certificate must name the URL's host or
                   address: a broker whose certificate does not verify is
                   said once, and nothing is sent to it
  --mqtt-cert FILE --mqtt-key FILE
                   a client certificate (PEM) and its key, for a broker that
                   asks for one
  --mqtt-user NAME log in to the broker as NAME; the password is the first
                   line of --mqtt-password-file FILE, or else the environment
                   variable LYNX_MQTT_PASSWORD, never on the command line,
                   where every user of the PC sees it. A login the broker
                   refuses ends the watch
  --mqtt-keepalive S
                   seconds between the watch's signs of life to the broker
                   (default 10, 5..3600): a watch killed or cut off shows as
                   &quot;offline&quot; within 1.5 times this
  --interface NAME search on this network card only (repeat for more); by
                   default every card that can broadcast
The watch follows 65536 cameras at most; when a new one would be more, that
is said once, and cameras that disappeared (not those of the site file) are
forgotten to make room.
A summary goes to standard error at the end, with the events published. The
exit status is 0 when the watch ended at its duration or on a signal; 1 when
the first search went out on no network card, the output could not be
written, a camera of the site file was not present at the end, answers of
cameras beyond the 65536 were not followed, or events to publish were
dropped or left unsent; 2 for bad options, a bad site file, or a login the
broker refused. After a
signal, events not yet published are given to the broker only while it is
connected (up to 5 seconds); a second signal ends that at once.
</source>
        <translation>用法：lynx-cli watch [--interval S] [--missed N] [--duration S]
                      [--format table|json] [--site FILE]
                      [--publish mqtt[s]://HOST[:PORT]/TOPIC [--mqtt-user NAME]
                       [--mqtt-password-file FILE] [--mqtt-cafile FILE]
                       [--mqtt-cert FILE --mqtt-key FILE] [--mqtt-keepalive S]]
                      [--interface NAME ...]

每 S 秒搜索一次局域网，每项变化输出一行：
  appeared     相机首次应答（出现）
  disappeared  相机连续 N 次搜索未应答（消失）
  returned     消失的相机重新应答（恢复）
  address      相机以另一 IP 地址、子网掩码或网关应答（地址变更）
  version      相机以另一软件版本应答（版本变更）
  missing      现场文件中的相机在最初 N 次搜索中都未应答（从未应答）
  unexpected   现场文件之外的相机第一次应答（多余）
相机按 MAC 区分；少于 N 次未应答后又应答的相机不报告。
  --interval S     两次搜索之间的秒数（默认 10，1..3600）
  --missed N       相机连续未应答多少次搜索即视为消失（默认 3，1..1000）
  --duration S     S 秒后结束；默认一直运行，直到 Ctrl+C（SIGINT）或 SIGTERM
  --format         table（默认）或 json：每行一个 JSON 对象，含 &quot;time&quot;（UTC）、
                   &quot;event&quot;、&quot;mac&quot;、&quot;ip&quot;，以及视情况而定的 &quot;label&quot;、
                   &quot;softwareVersion&quot;、&quot;previousIp&quot;、&quot;previousMask&quot;、
                   &quot;previousGateway&quot;、&quot;previousVersion&quot;、&quot;lastHeard&quot;
  --site FILE      现场应有的相机，按 MAC，文件与 check --site 读取的相同（地址
                   方案或窗口导出的列表；可选列 label 为每台相机命名）：这些
                   相机的每个事件都带有其 &quot;label&quot;。有错误的文件被拒绝，每个
                   错误都注明，不发送任何数据
  --publish URL    同时把每个事件（即 --format json 输出的 JSON 对象）发布到
                   mqtt://HOST[:PORT]/TOPIC 的 MQTT 服务器（默认端口 1883），
                   或经 TLS 加密发布到 mqtts://HOST[:PORT]/TOPIC（默认端口
                   8883）：主题为 TOPIC/MAC（MAC 写作 00:1A:2B:3C:4D:5E），
                   保留消息，QoS 1。TOPIC/status 在监视连接期间为 &quot;online&quot;
                   （保留消息），监视结束或失去联系后为 &quot;offline&quot;（也作为遗嘱
                   留在服务器上）。服务器不可用时会提示并重试，期间事件暂存
                   （超过 10000 条时丢弃最早的）；结束时再给服务器 5 秒接收
                   其余事件
  --mqtt-cafile FILE
                   为 mqtts:// 服务器作证的证书颁发机构（PEM）；默认使用系统的
                   （/etc/ssl/certs）。服务器证书必须写明地址中的主机名或 IP：
                   证书未通过验证的服务器提示一次，不向它发送任何数据
  --mqtt-cert FILE --mqtt-key FILE
                   客户端证书（PEM）及其私钥，供要求客户端证书的服务器使用
  --mqtt-user NAME 以 NAME 登录服务器；密码取 --mqtt-password-file FILE 文件的
                   第一行，否则取环境变量 LYNX_MQTT_PASSWORD，绝不放在命令行上
                   （本机每个用户都能看到命令行）。服务器拒绝登录时监视结束
  --mqtt-keepalive S
                   监视向服务器报平安的间隔秒数（默认 10，5..3600）：监视被
                   终止或断网后，最迟 1.5 倍此时间内显示为 &quot;offline&quot;
  --interface NAME 只在此网卡上搜索（可重复）；默认在每块能广播的网卡上搜索
监视最多跟踪 65536 台相机；再有新相机时提示一次，并清除已消失的相机（现场文件
中的相机除外）以腾出位置。
结束时在标准错误输出汇总及已发布的事件数。按时长或因信号结束时退出状态为 0；
第一次搜索未能从任何网卡发出、输出无法写入、现场文件中的相机结束时不在线、
超出 65536 台的相机应答未被跟踪，或要发布的事件被丢弃或未送出时为 1；选项无效
、现场文件有错误或服务器拒绝登录时为 2。因信号结束时，尚未发布的事件只在服务器已连接时继续
发送（最多 5 秒）；再来一个信号则立即结束。
</translation>
    </message>
    <message>
        <source>report cameras that appear, go dark or change</source>
        <translation>报告出现、掉线或变化的相机</translation>
    </message>
    <message>
        <source>appeared</source>
        <translation>出现</translation>
    </message>
    <message>
        <source>disappeared</source>
        <translation>消失</translation>
    </message>
    <message>
        <source>returned</source>
        <translation>恢复</translation>
    </message>
    <message>
        <source>address changed</source>
        <translation>地址变更</translation>
    </message>
    <message>
        <source>version changed</source>
        <translation>版本变更</translation>
    </message>
    <message>
        <source>never answered</source>
        <translation>从未应答</translation>
    </message>
    <message>
        <source>unexpected</source>
        <translation>多余</translation>
    </message>
    <message>
        <source>was %1 mask %2 gateway %3, now mask %4 gateway %5</source>
        <translation>原为 %1 掩码 %2 网关 %3，现掩码 %4 网关 %5</translation>
    </message>
    <message>
        <source>last heard %1</source>
        <translation>最后应答于 %1</translation>
    </message>
    <message>
        <source>%1 events published to %2</source>
        <translation>已向 %2 发布 %1 条事件</translation>
    </message>
    <message>
        <source>%1 events were dropped and %2 left unsent: the broker does not have every event</source>
        <translation>%1 条事件被丢弃，%2 条未送出：服务器上的事件不完整</translation>
    </message>
    <message>
        <source>watch ended after %1 searches: %2 cameras present, %3 disappeared, %4 expected but absent</source>
        <translation>监视结束，共搜索 %1 次：在线相机 %2 台，消失 %3 台，应有而缺席 %4 台</translation>
    </message>
    <message>
        <source>events: %1 appeared, %2 disappeared, %3 returned, %4 address changes, %5 version changes, %6 never answered, %7 unexpected</source>
        <translation>事件：出现 %1，消失 %2，恢复 %3，地址变更 %4，版本变更 %5，从未应答 %6，多余 %7</translation>
    </message>
    <message>
        <source>absent: %1 %2</source>
        <translation>缺席：%1 %2</translation>
    </message>
    <message>
        <source>%1 answers of cameras beyond the first %2 were not followed</source>
        <translation>超出前 %2 台之外的相机应答 %1 次，未跟踪</translation>
    </message>
    <message>
        <source>%1 cameras are followed, as many as the watch can: a camera new to it is not followed until cameras that disappeared are forgotten</source>
        <translation>已跟踪 %1 台相机，达到监视上限：在已消失的相机被清除之前，新出现的相机不予跟踪</translation>
    </message>
    <message>
        <source>%1 searches went out on no network card</source>
        <translation>%1 次搜索未能从任何网卡发出</translation>
    </message>
    <message>
        <source>hearsay</source>
        <translation>他机代答</translation>
    </message>
    <message>
        <source>%1 claims the MAC %2</source>
        <translation>%1 自称 MAC %2</translation>
    </message>
    <message>
        <source>%1 (hardware address %2) claims the MAC %3</source>
        <translation>%1（硬件地址 %2）自称 MAC %3</translation>
    </message>
    <message>
        <source>--mac takes a MAC of twelve hex digits, not '%1'</source>
        <translation>--mac 应为十二位十六进制数字的 MAC，而不是“%1”</translation>
    </message>
    <message>
        <source>--format takes text or json, not '%1'</source>
        <translation>--format 应为 text 或 json，而不是“%1”</translation>
    </message>
    <message>
        <source>; downloading: %1, %2 % on average</source>
        <translation>；正在下载：%1 台，平均 %2%</translation>
    </message>
</context>
</TS>
