#include "log/messages.h"

#include "qz_version.h"

// This file is compiled with a GBK execution character set: it must not include spdlog or fmt,
// whose headers hold characters GBK cannot encode.

// Run sequence and entry.
const char kMsgLogOpened[] = "INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n";
const char kMsgDriverVersion[] = "当前驱动版本：V" QZ_VERSION_TEXT " \n";
const char kMsgDetectingSystem[] = "INFO: 获取当前操作系统： \n";
const char kMsgSeparator[] = "..........\n";
const char kMsgInstallingDriver[] = "INFO: 安装 QZ_UsbToUartDriver 驱动 \n";
const char kMsgPreinstallSummarySucceeded[] = "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n";
const char kMsgPreinstallSummaryFailed[] = "FAIL: QZ_UsbToUartDriver 驱动预安装失败！\n";
const char kMsgLogClosing[] = "INFO: 关闭日志\n";
const char kMsgFinalLineFeed[] = "\n";

// mdmcpq.inf patch.
const char kMsgInfOpenFailed[] = "FAIL: 无法打开mdmcpq.inf文件\n";
const char kMsgInfBufferFailed[] = "FAIL: mdmcpq.inf 读取失败: file buf malloc fail!!!\n";
const char kMsgInfReadLengthFailed[] = "FAIL: mdmcpq.inf 读取失败: file read len error!!!\n";
const char kMsgInfWriteFailed[] = "FAIL: mdmcpq.inf 写入失败: file write error!!!\n";
const char kMsgInfEdited[] = "SUCC: mdmcpq.inf文件已存在，已编辑\n";
const char kMsgInfNoEditNeeded[] = "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n";

// System file deployment.
const char kMsgInfCopied[] = "SUCC: mdmcpq.inf文件不存在，自动复制\n";
const char kMsgDriverCopied[] = "SUCC: usbser.sys文件不存在，自动复制\n";
const char kMsgDriverPresent[] = "Warning: usbser.sys文件已存在，无需复制\n";
const char kMsgDriverCopyFailed[] = "FAIL: usbser.sys文件复制失败\n";
const char kMsgRedirectionOffFailed[] = "FAIL:关闭文件重定向失败\n";
const char kMsgRedirectionOffFailedWin8[] = "FAIL:关闭文件重定向失败\n\n";
const char kMsgSystem32DriverCopied[] =
    "SUCC: Windows\\System32\\drivers\\usbser.sys文件复制成功\n";
const char kMsgSystem32DriverCopyFailed[] =
    "FAIL: Windows\\System32\\drivers\\usbser.sys文件复制失败\n";
const char kMsgSysWow64DriverCopied[] =
    "SUCC: Windows\\SysWOW64\\drivers\\usbser.sys文件复制成功\n";
const char kMsgSysWow64DriverCopyFailed[] =
    "FAIL: Windows\\SysWOW64\\drivers\\usbser.sys文件复制失败\n";
const char kMsgWindowsXp32[] = "INFO: WindowsXP 32Bits System\n";
const char kMsgWindowsXp64[] = "INFO: WindowsXP 64Bits System \n";
const char kMsgWindowsVista32[] = "INFO: WindowsVISTA 32Bits System\n";
const char kMsgWindowsVista64[] = "INFO: WindowsVISTA 64Bits System \n";
const char kMsgWindows7_32[] = "INFO: Windows7 32Bits System\n";
const char kMsgWindows7_64[] = "INFO: Windows7 64Bits System \n";
const char kMsgWindows8_32[] = "INFO: Windows8 32Bits System\n";
const char kMsgWindows8_64[] = "INFO: Windows8 64Bits System \n";
const char kMsgWindows81_32[] = "INFO: Windows8.1 32Bits System\n";
const char kMsgWindows81_64[] = "INFO: Windows8.1 64Bits System \n";
const char kMsgWindows10_32[] = "INFO: Windows10 32Bits System\n";
const char kMsgWindows10_64[] = "INFO: Windows10 64Bits System \n";
const char kMsgReleaseUnsupported[] = "Warning: before winxp or windows server \n";
const char kMsgArm64Processor[] = "INFO: ARM64 处理器 \n";

// Driver package pre-installation.
const char kMsgPreinstallCalling[] = "SUCC: 正在调用驱动预安装函数…… \n";
const char kMsgPreinstallCallSucceeded[] = "SUCC: 驱动预安装函数运行成功。\n";
const char kMsgPreinstallCallFailed[] = "FAIL: 驱动预安装函数运行失败：";
const char kMsgPreinstallAlreadyStaged[] = "FAIL: 驱动已经存在。 \n";
const char kMsgPreinstallFailed[] = "FAIL: 预安装失败 \n";
const char kMsgNoArm64Driver[] = "FAIL: 驱动包没有适用于 ARM64 Windows 的驱动 \n";

// The package publisher's trust, before staging.
const char kMsgPublisherTrusted[] = "INFO: 已将驱动发布者证书添加到受信任的发布者 \n";
const char kMsgCatalogUnverified[] =
    "Warning: 驱动目录文件签名无法验证，Windows 可能拒绝或提示安装 \n";

// Devices that are already connected.
const char kMsgDevicesInstalled[] = "INFO: 已为已连接的设备安装驱动 \n";
const char kMsgDevicesNeedRestart[] = "Warning: 需要重新启动计算机才能完成设备安装 \n";
const char kMsgDevicesInstallFailed[] = "FAIL: 为已连接的设备安装驱动失败，错误码 <code> \n";
const char kMsgDevicesOnNextPlug[] = "Warning: 已连接的设备将在重新插入时获得驱动 \n";

// The remover.
const char kMsgRemovingDriver[] = "INFO: 卸载 QZ_UsbToUartDriver 驱动 \n";
// The installer package's removals: a failed install taken back, and an upgrade once committed.
const char kMsgRemovingRolledBackRelease[] =
    "INFO: 安装已回滚，删除本次安装预安装的 QZ_UsbToUartDriver 驱动包 \n";
const char kMsgRemovingEarlierReleases[] =
    "INFO: 升级已完成，删除旧版本的 QZ_UsbToUartDriver 驱动包 \n";
const char kMsgPackageRemoved[] = "SUCC: 已删除驱动包 <name> \n";
const char kMsgPackageRemovalFailed[] = "FAIL: 无法删除驱动包 <name>，错误码 <code> \n";
const char kMsgNoPackageFound[] = "Warning: 未找到已安装的 QZ_UsbToUartDriver 驱动包 \n";
const char kMsgPackageUnidentified[] = "FAIL: 缺少驱动安装信息文件，无法识别驱动包 \n";
const char kMsgRemovalSucceeded[] = "SUCC: QZ_UsbToUartDriver 驱动卸载完成！\n";
const char kMsgRemovalFailed[] = "FAIL: QZ_UsbToUartDriver 驱动卸载失败！\n";
