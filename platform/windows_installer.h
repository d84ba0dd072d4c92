#pragma once

// What a custom action of our installer package asks of the Windows Installer session that runs
// it. msi.dll is already loaded in the process that calls a custom action; it is still looked up
// from the system folder only. Windows build only.
#include <string>

using InstallerSession = unsigned long;

// A property of the session; empty when it has none. A deferred action sees only the text the
// package hands it, its "CustomActionData".
std::string InstallerProperty(InstallerSession session, const char* name);

// Sets a property for the actions scheduled after an immediate one.
void SetInstallerProperty(InstallerSession session, const char* name, const char* value);

// A line in the installer's own log (msiexec /l*v).
void InstallerLogLine(InstallerSession session, const std::string& text);
