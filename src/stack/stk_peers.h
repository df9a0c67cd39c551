// Services of other subsystems that the stack start-up task calls when the
// build holds them: the configuration registry's loader and the CPU
// traffic-control reload. Until they are linked in, the task hands the
// configuration straight to the application's loader (the hook that the
// registry calls as well) and has no entries to reload.
#pragma once

extern "C" {
int axConfigLoadConfig(char *buf, unsigned len) __attribute__((weak));
int axPktCtlEntryReload(int flag) __attribute__((weak));
}
