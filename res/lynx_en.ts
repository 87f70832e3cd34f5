<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>Lynx</name>
    <message>
        <source>科瓦诱导摄像机设备搜索软件V1.0.1(Build20181107)</source>
        <translation>Kova Guidance Camera Device Search V1.0.1 (Build20181107)</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>设备列表</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>修改IP</source>
        <translation>Change IP</translation>
    </message>
    <message>
        <source>批量修改IP</source>
        <translation>Change IPs</translation>
    </message>
    <message>
        <source>批量升级</source>
        <translation>Batch upgrade</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>升级文件：</source>
        <translation>Upgrade file:</translation>
    </message>
    <message>
        <source>协议</source>
        <translation>Protocol</translation>
    </message>
    <message>
        <source>屏蔽IP相同</source>
        <translation>Hide same IP</translation>
    </message>
    <message>
        <source>屏蔽MAC相同</source>
        <translation>Hide same MAC</translation>
    </message>
    <message>
        <source>序号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>设备IP</source>
        <translation>Device IP</translation>
    </message>
    <message>
        <source>MAC地址</source>
        <translation>MAC address</translation>
    </message>
    <message>
        <source>网关地址</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>子网掩码</source>
        <translation>Subnet mask</translation>
    </message>
    <message>
        <source>设备型号</source>
        <translation>Model</translation>
    </message>
    <message>
        <source>软件版本</source>
        <translation>Software version</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>IE浏览</source>
        <translation>Open in browser</translation>
    </message>
    <message>
        <source>更多信息</source>
        <translation>More information</translation>
    </message>
    <message>
        <source>导出列表…</source>
        <translation>Export list…</translation>
    </message>
    <message>
        <source>列表中没有设备！</source>
        <translation>There are no devices in the list!</translation>
    </message>
    <message>
        <source>请至少选择一个设备！</source>
        <translation>Please select at least one device!</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
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
        <source>SDK初始化失败！</source>
        <translation>SDK initialisation failed!</translation>
    </message>
    <message>
        <source>获取SDK参数失败！</source>
        <translation>Could not read the SDK parameters!</translation>
    </message>
    <message>
        <source>设置SDK参数失败！</source>
        <translation>Could not set the SDK parameters!</translation>
    </message>
    <message>
        <source>搜索命令发送失败！</source>
        <translation>The search request could not be sent!</translation>
    </message>
    <message>
        <source>IP冲突：</source>
        <translation>IP conflict: </translation>
    </message>
    <message>
        <source>%1：计划 %2，实际 %3</source>
        <translation>%1 planned %2, found %3</translation>
    </message>
    <message>
        <source>网卡</source>
        <translation>Network card</translation>
    </message>
    <message>
        <source>导出失败：</source>
        <translation>Export failed: </translation>
    </message>
    <message>
        <source>升级成功，版本已更新</source>
        <translation>Upgrade succeeded, new version running</translation>
    </message>
    <message>
        <source>升级成功，版本未变</source>
        <translation>Upgrade succeeded, version unchanged</translation>
    </message>
    <message>
        <source>IP地址:</source>
        <translation>IP address:</translation>
    </message>
    <message>
        <source>子网掩码:</source>
        <translation>Subnet mask:</translation>
    </message>
    <message>
        <source>网关地址:</source>
        <translation>Gateway:</translation>
    </message>
    <message>
        <source>选择网</source>
        <translation>Network</translation>
    </message>
    <message>
        <source>设置网关</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>起始IP</source>
        <translation>Start IP</translation>
    </message>
    <message>
        <source>结束IP</source>
        <translation>End IP</translation>
    </message>
    <message>
        <source>IP地址错误！</source>
        <translation>Invalid IP address!</translation>
    </message>
    <message>
        <source>子网掩码错误！</source>
        <translation>Invalid subnet mask!</translation>
    </message>
    <message>
        <source>网关地址错误！</source>
        <translation>Invalid gateway!</translation>
    </message>
    <message>
        <source>起始IP不能超过254，请重新设置！</source>
        <translation>The start IP cannot be above 254. Please set it again!</translation>
    </message>
    <message>
        <source>起始IP错误！</source>
        <translation>Invalid start IP!</translation>
    </message>
    <message>
        <source>结束IP错误！</source>
        <translation>Invalid end IP!</translation>
    </message>
    <message>
        <source>网关设置错误！</source>
        <translation>The gateway is not set correctly!</translation>
    </message>
    <message>
        <source>子网掩码设置错误！</source>
        <translation>The subnet mask is not set correctly!</translation>
    </message>
    <message>
        <source>结束IP要大于起始IP！</source>
        <translation>The end IP must be above the start IP!</translation>
    </message>
    <message>
        <source>起始IP或网关或子网掩码设置错误！</source>
        <translation>The start IP, gateway or subnet mask is not set correctly!</translation>
    </message>
    <message>
        <source>结束IP或网关或子网掩码设置错误！</source>
        <translation>The end IP, gateway or subnet mask is not set correctly!</translation>
    </message>
    <message>
        <source>修改IP会导致设备重启，是否确定修改？</source>
        <translation>Changing the IP restarts the device. Change it?</translation>
    </message>
    <message>
        <source>修改成功！</source>
        <translation>Changed successfully!</translation>
    </message>
    <message>
        <source>修改失败！</source>
        <translation>Change failed!</translation>
    </message>
    <message>
        <source>选择修改Ip设备数大于设置的网络范围，请重新选择设备或者修改网络设置范围！</source>
        <translation>More devices are selected than the range holds. Please select fewer devices or widen the range!</translation>
    </message>
    <message>
        <source>所有设备修改成功！</source>
        <translation>All devices changed successfully!</translation>
    </message>
    <message>
        <source>下列设备ip修改失败:&#xd;&#xa;</source>
        <translation>The IP of these devices could not be changed:&#xd;&#xa;</translation>
    </message>
    <message>
        <source>等待中</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>已发送升级命令,等待升级</source>
        <translation>Upgrade command sent, waiting</translation>
    </message>
    <message>
        <source>升级命令发送失败</source>
        <translation>Upgrade command not sent</translation>
    </message>
    <message>
        <source>升级中</source>
        <translation>Upgrading</translation>
    </message>
    <message>
        <source>设备未就绪，请稍后再试</source>
        <translation>Device not ready, please try again later</translation>
    </message>
    <message>
        <source>升级成功</source>
        <translation>Upgrade succeeded</translation>
    </message>
    <message>
        <source>升级失败</source>
        <translation>Upgrade failed</translation>
    </message>
    <message>
        <source>下载或校验失败</source>
        <translation>Download or check failed</translation>
    </message>
    <message>
        <source>未下载固件，不予采信</source>
        <translation>Firmware not downloaded: success not believed</translation>
    </message>
    <message>
        <source>请先修改IP</source>
        <translation>Change its IP first</translation>
    </message>
    <message>
        <source>不在本机网段：%1</source>
        <translation>Not on this PC&apos;s subnet: %1</translation>
    </message>
    <message>
        <source>不在本机网段：本机没有IPv4地址</source>
        <translation>Not on this PC&apos;s subnet: this PC has no IPv4 address</translation>
    </message>
    <message>
        <source>网卡 %1 为 %2</source>
        <translation>card %1 is %2</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>升级正在进行中</source>
        <translation>An upgrade is in progress</translation>
    </message>
    <message>
        <source>没有选中设备</source>
        <translation>No device selected</translation>
    </message>
    <message>
        <source>是否要进行升级？</source>
        <translation>Upgrade the selected devices?</translation>
    </message>
    <message>
        <source>升级完成</source>
        <translation>Upgrade complete</translation>
    </message>
    <message>
        <source>升级文件打开失败！</source>
        <translation>The upgrade file could not be opened!</translation>
    </message>
    <message>
        <source>HTTP套接字socket创建失败！</source>
        <translation>The HTTP server socket could not be created!</translation>
    </message>
    <message>
        <source>总共:%d    完成:%d    成功:%d    失败：%d</source>
        <translation>Total: %d    Done: %d    Succeeded: %d    Failed: %d</translation>
    </message>
    <message>
        <source>未报告升级结果</source>
        <translation>no upgrade result reported</translation>
    </message>
    <message>
        <source>(状态已清空)</source>
        <translation>(status cleared)</translation>
    </message>
    <message>
        <source>MAC地址错误！</source>
        <translation>Invalid MAC address!</translation>
    </message>
    <message>
        <source>端口19027或8025已被其他程序占用，无法接收设备应答。</source>
        <translation>Port 19027 or 8025 is in use by another program: the devices' answers cannot be received.</translation>
    </message>
    <message>
        <source>升级文件无法读取：</source>
        <translation>The upgrade file cannot be read: </translation>
    </message>
    <message>
        <source>升级文件不是有效的zip压缩包：</source>
        <translation>The upgrade file is not a valid zip archive: </translation>
    </message>
    <message>
        <source>未知的语言“%1”，已忽略（可用：zh、en）</source>
        <translation>unknown language &apos;%1&apos; ignored (known: zh, en)</translation>
    </message>
    <message>
        <source>无法打开网页：没有找到浏览器。</source>
        <translation>Cannot open the web page: no browser was found.</translation>
    </message>
    <message>
        <source>设备列表已满，之后的应答不再列出。台数上限：</source>
        <translation>The device list is full: later answers are not listed. Limit: </translation>
    </message>
    <message>
        <source>文件超过 %1 MiB</source>
        <translation>the file is larger than %1 MiB</translation>
    </message>
    <message>
        <source>引号未闭合</source>
        <translation>a quoted field is not closed</translation>
    </message>
    <message>
        <source>表头没有mac列</source>
        <translation>the header names no mac column</translation>
    </message>
    <message>
        <source>只有 %1 个字段，表头有 %2 个</source>
        <translation>has %1 fields, the header %2</translation>
    </message>
    <message>
        <source>相机超过 %1 台</source>
        <translation>more than %1 cameras</translation>
    </message>
    <message>
        <source>MAC地址为空</source>
        <translation>the MAC address is empty</translation>
    </message>
    <message>
        <source>MAC地址“%1”无效</source>
        <translation>'%1' is not a MAC address</translation>
    </message>
    <message>
        <source>MAC地址与第 %1 行重复</source>
        <translation>the MAC address is also on line %1</translation>
    </message>
    <message>
        <source>“%1”不是点分十进制的IPv4地址</source>
        <translation>'%1' is not a dotted IPv4 address</translation>
    </message>
    <message>
        <source>IP地址与第 %1 行重复</source>
        <translation>the address is also on line %1</translation>
    </message>
    <message>
        <source>没有表头行</source>
        <translation>no header line</translation>
    </message>
    <message>
        <source>文件中没有相机</source>
        <translation>the file lists no camera</translation>
    </message>
    <message>
        <source>无法读取“%1”：%2</source>
        <translation>cannot read '%1': %2</translation>
    </message>
    <message>
        <source>第 %1 行：%2</source>
        <translation>line %1: %2</translation>
    </message>
    <message>
        <source>第 %1 行，%2 列：%3</source>
        <translation>line %1, column %2: %3</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>ok</translation>
    </message>
    <message>
        <source>地址不符</source>
        <translation>address differs</translation>
    </message>
    <message>
        <source>版本不符</source>
        <translation>version differs</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>missing</translation>
    </message>
    <message>
        <source>多余</source>
        <translation>unexpected</translation>
    </message>
    <message>
        <source>地址冲突</source>
        <translation>IP conflict</translation>
    </message>
    <message>
        <source>应有 %1 台，正常 %2，地址不符 %3，版本不符 %4，未找到 %5，多余 %6，地址冲突 %7</source>
        <translation>expected %1, ok %2, address %3, version %4, missing %5, unexpected %6, conflict %7</translation>
    </message>
    <message>
        <source>%1 及另外 %2 个</source>
        <translation>%1 and %2 more</translation>
    </message>
    <message>
        <source>另一台主机 %1 替这台摄像机应答</source>
        <translation>another host at %1 answers for this camera</translation>
    </message>
    <message>
        <source>其他主机 %1 替这台摄像机应答</source>
        <translation>other hosts at %1 answer for this camera</translation>
    </message>
    <message>
        <source>他机代答</source>
        <translation>hearsay</translation>
    </message>
    <message>
        <source>标签</source>
        <translation>Label</translation>
    </message>
    <message>
        <source>计划IP</source>
        <translation>Planned IP</translation>
    </message>
    <message>
        <source>计划版本</source>
        <translation>Planned version</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>MQTT地址应写作 mqtt://主机[:端口]/主题 或 mqtts://主机[:端口]/主题：%1</source>
        <translation>The MQTT address must be written mqtt://HOST[:PORT]/TOPIC or mqtts://HOST[:PORT]/TOPIC: %1</translation>
    </message>
    <message>
        <source>MQTT地址不能包含用户名或密码：%1。请用 --mqtt-user 给出用户名，密码放在环境变量 LYNX_MQTT_PASSWORD 或 --mqtt-password-file 指定的文件中</source>
        <translation>The MQTT address must not hold a user name or password: %1. Give the user name with --mqtt-user, and the password in the environment variable LYNX_MQTT_PASSWORD or in a file named by --mqtt-password-file</translation>
    </message>
    <message>
        <source>MQTT地址的主机无效：%1</source>
        <translation>The MQTT address&apos;s host is not valid: %1</translation>
    </message>
    <message>
        <source>MQTT地址缺少主机：%1</source>
        <translation>The MQTT address names no host: %1</translation>
    </message>
    <message>
        <source>MQTT地址的端口应为1到65535的数字：%1</source>
        <translation>The MQTT address&apos;s port must be a number from 1 to 65535: %1</translation>
    </message>
    <message>
        <source>MQTT地址缺少主题：%1</source>
        <translation>The MQTT address names no topic: %1</translation>
    </message>
    <message>
        <source>MQTT主题不能包含 +、#、控制字符或无效的UTF-8，也不能以 $ 开头：%1</source>
        <translation>The MQTT topic must not hold +, #, control characters or invalid UTF-8, nor begin with $: %1</translation>
    </message>
    <message>
        <source>MQTT队列已满（%1 条），最早的事件被丢弃</source>
        <translation>The MQTT queue is full (%1 events): the oldest events are dropped</translation>
    </message>
    <message>
        <source>MQTT服务器 %1 已重新连接</source>
        <translation>MQTT broker %1 is connected again</translation>
    </message>
    <message>
        <source>MQTT服务器 %1 已重新连接；队列满时丢弃了 %2 条事件</source>
        <translation>MQTT broker %1 is connected again; %2 events were dropped while the queue was full</translation>
    </message>
    <message>
        <source>MQTT：一条事件无法发送（%1），已丢弃</source>
        <translation>MQTT: an event could not be sent (%1) and was dropped</translation>
    </message>
    <message>
        <source>MQTT服务器 %1 无法连接（%2），事件暂存在队列中，稍后重试</source>
        <translation>MQTT broker %1 cannot be reached (%2): events are kept in the queue, and the connection is retried</translation>
    </message>
    <message>
        <source>MQTT服务器 %1 的证书未通过验证（%2），不向它发送任何事件；事件暂存在队列中，稍后重试</source>
        <translation>The certificate of MQTT broker %1 does not verify (%2): nothing is sent to it; events are kept in the queue, and the connection is retried</translation>
    </message>
    <message>
        <source>MQTT服务器 %1 拒绝登录（%2），不再重试</source>
        <translation>MQTT broker %1 refused the login (%2): it is not tried again</translation>
    </message>
    <message>
        <source>MQTT：停止时仍有 %1 条事件未送达服务器 %2</source>
        <translation>MQTT: %1 events were not delivered to broker %2 when stopping</translation>
    </message>
    <message>
        <source>载入站点清单…</source>
        <translation>Load site file…</translation>
    </message>
    <message>
        <source>卸载站点清单</source>
        <translation>Unload site file</translation>
    </message>
    <message>
        <source>持续监视</source>
        <translation>Keep watching</translation>
    </message>
    <message>
        <source>离线</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>持续监视中：每 %1 秒搜索一次，正在搜索</source>
        <translation>Watching: a search every %1 s, searching</translation>
    </message>
    <message>
        <source>持续监视中：每 %1 秒搜索一次，上次搜索 %2</source>
        <translation>Watching: a search every %1 s, last search %2</translation>
    </message>
    <message>
        <source>持续监视中：每 %1 秒搜索一次，搜索未能发出</source>
        <translation>Watching: a search every %1 s, the search could not be sent</translation>
    </message>
    <message>
        <source>正在批量升级，退出将中止升级。</source>
        <translation>A batch upgrade is running; exiting aborts it.</translation>
    </message>
    <message>
        <source>正在批量修改IP，退出将中止修改。</source>
        <translation>A batch address change is running; exiting aborts it.</translation>
    </message>
    <message>
        <source>正在持续监视，退出将停止监视。</source>
        <translation>The site is being watched; exiting stops the watch.</translation>
    </message>
    <message>
        <source>已载入站点清单，退出将卸载清单。</source>
        <translation>A site file is loaded; exiting unloads it.</translation>
    </message>
    <message>
        <source>确定退出吗？</source>
        <translation>Exit anyway?</translation>
    </message>
    <message>
        <source>最后应答：</source>
        <translation>Last answer: </translation>
    </message>
    <message>
        <source>计划：</source>
        <translation>Planned: </translation>
    </message>
    <message>
        <source>名称：</source>
        <translation>Name: </translation>
    </message>
    <message>
        <source>IP %1</source>
        <translation>IP %1</translation>
    </message>
    <message>
        <source>掩码 %1</source>
        <translation>mask %1</translation>
    </message>
    <message>
        <source>网关 %1</source>
        <translation>gateway %1</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>version %1</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>应有 %1 台</source>
        <translation>%1 expected</translation>
    </message>
    <message>
        <source>正常 %1</source>
        <translation>ok %1</translation>
    </message>
    <message>
        <source>地址不符 %1</source>
        <translation>address %1</translation>
    </message>
    <message>
        <source>版本不符 %1</source>
        <translation>version %1</translation>
    </message>
    <message>
        <source>地址冲突 %1</source>
        <translation>conflict %1</translation>
    </message>
    <message>
        <source>未找到 %1</source>
        <translation>missing %1</translation>
    </message>
    <message>
        <source>多余 %1</source>
        <translation>unexpected %1</translation>
    </message>
    <message>
        <source>……共 %1 处错误</source>
        <translation>… %1 faults in all</translation>
    </message>
    <message>
        <source>站点清单有错误，未载入：</source>
        <translation>The site file has faults and was not loaded:</translation>
    </message>
    <message>
        <source>等待设备在新地址应答…</source>
        <translation>Waiting for the device to answer at its new address…</translation>
    </message>
    <message>
        <source>设备未在新地址应答</source>
        <translation>Not answering at the new address</translation>
    </message>
    <message>
        <source>正在等待设备在新地址应答，请稍候再修改。</source>
        <translation>Devices are still awaited at their new addresses; please try again later.</translation>
    </message>
    <message>
        <source>下列设备的新地址有冲突：</source>
        <translation>The new addresses of these devices conflict:</translation>
    </message>
    <message>
        <source>是否仍要修改？</source>
        <translation>Change them anyway?</translation>
    </message>
    <message>
        <source>设备未在新地址应答，修改未生效：</source>
        <translation>The device did not answer at its new address; the change did not take effect: </translation>
    </message>
    <message>
        <source>正在等待设备在新地址应答，退出将不再确认修改。</source>
        <translation>Devices are awaited at their new addresses; exiting stops confirming the changes.</translation>
    </message>
    <message>
        <source>站点清单不是UTF-8编码，已按GBK（代码页936）读取。</source>
        <translation>The site file is not UTF-8; it was read as GBK (code page 936).</translation>
    </message>
    <message>
        <source>下载停滞</source>
        <translation>download stalled</translation>
    </message>
</context>
</TS>
