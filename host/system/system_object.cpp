#include <stdio.h>

#include "engine.h"
#include "system_object.h"

namespace kx4 {

HostApi *systemApi = nullptr;

// In definition order; the counts are the declared arities.
static const JSFunctionSpec kSystemFunctions[] = {
    JS_FS("evaluate", systemEvaluate, 1),
    JS_FS("openConsole", systemOpenConsole, 1),
    JS_FS("print", systemPrint, 1),
    JS_FS("getchar", systemGetchar, 0),
    JS_FS("getInput", systemGetInput, 0),
    JS_FS("exec", systemExec, 1),
    JS_FS("open", systemOpen, 1),
    JS_FS("createThread", systemCreateThread, 1),
    JS_FS("sleep", systemSleep, 1),
    JS_FS("createMutex", systemCreateMutex, 0),
    JS_FS("destroyMutex", systemDestroyMutex, 1),
    JS_FS("lockMutex", systemLockMutex, 1),
    JS_FS("unlockMutex", systemUnlockMutex, 1),
    JS_FS("gc", systemGc, 0),
    JS_FS("exit", systemExit, 1),
    JS_FS("loadModule", systemLoadModule, 1),
    JS_FS("getSysName", systemGetSysName, 1),
    JS_FS("getLocale", systemGetLocale, 1),
    JS_FS("getPID", systemGetPID, 0),
    JS_FS("getCPULoad", systemGetCPULoad, 0),
    JS_FS("getAdminRights", systemGetAdminRights, 0),
    JS_FS("shutdown", systemShutdown, 1),
    JS_FS("getRegistry", systemGetRegistry, 1),
    JS_FS("enumRegistry", systemEnumRegistry, 1),
    JS_FS("setRegistry", systemSetRegistry, 1),
    JS_FS("delRegistry", systemDelRegistry, 1),
    JS_FS("controlService", systemControlService, 2),
    JS_FS("createLink", systemCreateLink, 1),
    JS_FS("enumProcesses", systemEnumProcesses, 0),
    JS_FS_END,
};

void callSystemControl(const char *event, ControlTextEnd end) {
    char text[256];
    snprintf(text, sizeof text, "if(System.control) System.control('%s')%s", event,
             end == kControlStatement ? ";" : "");
    evaluateOnNewContext("System", text);
}

JSBool defineSystemObject(JSContext *cx, HostApi *api) {
    systemApi = api;
    return kx4DefineObject(api, cx, "System", kSystemFunctions) != nullptr;
}

}  // namespace kx4
