#include "platform/platform_ops.h"

namespace {
const PlatformOps* g_active = nullptr;
}

const PlatformOps& Platform() { return *g_active; }

void SetPlatform(const PlatformOps& ops) { g_active = &ops; }
