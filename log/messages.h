#pragma once

// Every log text. They are compiled into GBK (code page 936) bytes, the encoding of the log.
// "<name>" and "<code>" stand for what FillRecord puts in their place.

// Run sequence and entry.
extern const char kMsgLogOpened[];
extern const char kMsgDriverVersion[];
extern const char kMsgDetectingSystem[];
extern const char kMsgSeparator[];
extern const char kMsgInstallingDriver[];
extern const char kMsgPreinstallSummarySucceeded[];
extern const char kMsgPreinstallSummaryFailed[];
extern const char kMsgLogClosing[];
extern const char kMsgFinalLineFeed[];

// mdmcpq.inf patch.
extern const char kMsgInfOpenFailed[];
extern const char kMsgInfBufferFailed[];
extern const char kMsgInfReadLengthFailed[];
extern const char kMsgInfWriteFailed[];
extern const char kMsgInfEdited[];
extern const char kMsgInfNoEditNeeded[];

// System file deployment.
extern const char kMsgInfCopied[];
extern const char kMsgDriverCopied[];
extern const char kMsgDriverPresent[];
extern const char kMsgDriverCopyFailed[];
extern const char kMsgRedirectionOffFailed[];
extern const char kMsgRedirectionOffFailedWin8[];
extern const char kMsgSystem32DriverCopied[];
extern const char kMsgSystem32DriverCopyFailed[];
extern const char kMsgSysWow64DriverCopied[];
extern const char kMsgSysWow64DriverCopyFailed[];
extern const char kMsgWindowsXp32[];
extern const char kMsgWindowsXp64[];
extern const char kMsgWindowsVista32[];
extern const char kMsgWindowsVista64[];
extern const char kMsgWindows7_32[];
extern const char kMsgWindows7_64[];
extern const char kMsgWindows8_32[];
extern const char kMsgWindows8_64[];
extern const char kMsgWindows81_32[];
extern const char kMsgWindows81_64[];
extern const char kMsgWindows10_32[];
extern const char kMsgWindows10_64[];
extern const char kMsgReleaseUnsupported[];
extern const char kMsgArm64Processor[];

// Driver package pre-installation.
extern const char kMsgPreinstallCalling[];
extern const char kMsgPreinstallCallSucceeded[];
extern const char kMsgPreinstallCallFailed[];
extern const char kMsgPreinstallAlreadyStaged[];
extern const char kMsgPreinstallFailed[];
extern const char kMsgNoArm64Driver[];

// The package publisher's trust, before staging.
extern const char kMsgPublisherTrusted[];
extern const char kMsgCatalogUnverified[];

// Devices that are already connected.
extern const char kMsgDevicesInstalled[];
extern const char kMsgDevicesNeedRestart[];
extern const char kMsgDevicesInstallFailed[];
extern const char kMsgDevicesOnNextPlug[];

// The remover.
extern const char kMsgRemovingDriver[];
extern const char kMsgRemovingRolledBackRelease[];
extern const char kMsgRemovingEarlierReleases[];
extern const char kMsgPackageRemoved[];
extern const char kMsgPackageRemovalFailed[];
extern const char kMsgNoPackageFound[];
extern const char kMsgPackageUnidentified[];
extern const char kMsgRemovalSucceeded[];
extern const char kMsgRemovalFailed[];
