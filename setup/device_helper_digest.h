#pragma once

// The SHA-256 of the QZ_DeviceInstall64.exe this build ships (signed, when the release signs
// it), written into the program by the build. A helper with any other bytes is never started.
extern const unsigned char kDeviceHelperSha256[32];
