/* The System object: the host's script functions. */
#ifndef KX4_SYSTEM_OBJECT_H
#define KX4_SYSTEM_OBJECT_H

#include "kx4.h"

namespace kx4 {

// The System unit's copy of the host table, set by defineSystemObject.
extern HostApi *systemApi;

// Defines System on the global object of cx.
JSBool defineSystemObject(JSContext *cx, HostApi *api);

// How the text that calls System.control ends: the console's text is an
// expression, the service's a statement (each as it always was).
enum ControlTextEnd { kControlExpression, kControlStatement };

// Evaluates "if(System.control) System.control('<event>')" (with ";" for a
// statement) under the file name "System", on a context made for it on this
// thread: console events and the service manager call from threads of
// their own while script may run on the main context. Errors go to the
// reporter.
void callSystemControl(const char *event, ControlTextEnd end);

// Natives, by the file that holds them.
// basics.cpp
JSBool systemEvaluate(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemSleep(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGc(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemExit(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGetSysName(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGetLocale(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGetPID(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGetCPULoad(JSContext *, JSObject *, uintN, jsval *, jsval *);
// console.cpp
JSBool systemOpenConsole(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemPrint(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGetchar(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGetInput(JSContext *, JSObject *, uintN, jsval *, jsval *);
// threads.cpp
JSBool systemCreateThread(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemCreateMutex(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemDestroyMutex(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemLockMutex(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemUnlockMutex(JSContext *, JSObject *, uintN, jsval *, jsval *);
// modules.cpp
JSBool systemLoadModule(JSContext *, JSObject *, uintN, jsval *, jsval *);
// processes.cpp
JSBool systemExec(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemOpen(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemGetAdminRights(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemShutdown(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemCreateLink(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemEnumProcesses(JSContext *, JSObject *, uintN, jsval *, jsval *);
// registry.cpp
JSBool systemGetRegistry(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemEnumRegistry(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemSetRegistry(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool systemDelRegistry(JSContext *, JSObject *, uintN, jsval *, jsval *);
// service.cpp
JSBool systemControlService(JSContext *, JSObject *, uintN, jsval *, jsval *);

}  // namespace kx4

#endif
