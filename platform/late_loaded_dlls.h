#pragma once

// System DLLs that the DLLs the programs call (setupapi, newdev, crypt32, wintrust) load by base
// name, late, inside a call: Windows' setupapi verifies a package through wintrust and crypt32
// (msasn1 under crypt32; cryptsp, rsaenh and bcrypt as its providers; cryptnet for revocation),
// and reaches devices and the driver store through cfgmgr32, devobj and drvstore; Wine's
// setupapi and newdev also load uxtheme, ole32, combase, shell32, shlwapi and shcore.
//
// Such a load searches the program's own folder first on Windows without SetDefaultDllDirectories
// (XP, Vista, 7 without KB2533623), and on Wine always, KnownDLLs included. Each is therefore
// loaded from the system folder by full path before the first call, so that a later load by its
// base name finds the module already loaded. Where Windows maps one from its KnownDLLs, loading
// it early changes nothing; a DLL a release lacks is not loaded.
inline constexpr const char* kLateLoadedSystemDlls[] = {
    "msasn1.dll",   "crypt32.dll",  "cryptsp.dll", "rsaenh.dll",   "bcrypt.dll",  "cryptnet.dll",
    "wintrust.dll", "cfgmgr32.dll", "devobj.dll",  "drvstore.dll", "uxtheme.dll", "combase.dll",
    "ole32.dll",    "shlwapi.dll",  "shcore.dll",  "shell32.dll",  "newdev.dll",
};
