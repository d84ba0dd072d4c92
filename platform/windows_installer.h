#pragma once

// What a custom action of our installer package asks of the Windows Installer session that runs
// it. msi.dll is already loaded in the process that calls a custom action; it is still looked up
// from the system folder only. Windows build only.
#include <string>

using InstallerSession = unsigned long;

// The text the package hands a deferred action (its CustomActionData); empty when there is none.
std::string InstallerActionData(InstallerSession session);

// A line in the installer's own log (msiexec /l*v).
void InstallerLogLine(InstallerSession session, const std::string& text);
