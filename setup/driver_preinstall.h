#pragma once

#include "platform/platform_ops.h"

// Stages the package INF into the driver store. 1 when it is staged or already was, with
// `stagedName` holding the name it has in the system INF folder when the platform told it;
// 0 otherwise.
int PreinstallDriverPackage(const char* sourceInf, char (&stagedName)[kPathCapacity]);
