#pragma once
/* Test-only operations of the system library stand-in (<model>_SYS.so). The programs never bind
 * them. */

#ifdef __cplusplus
extern "C" {
#endif

/* The on/off arguments of the SetVibratorPower calls so far, oldest first (the last
 * QN_SYS_MAX_RECORDED_CALLS are kept). Copies at most max of them into out and returns how many
 * are recorded. */
typedef int (*QnSysRecordedCallsFn)(int* out, int max);
/* Forgets the recorded calls. */
typedef void (*QnSysClearRecordedCallsFn)(void);

#define QN_SYS_MAX_RECORDED_CALLS 1024

#ifdef __cplusplus
}
#endif
