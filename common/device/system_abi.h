#pragma once
/* The C operations of the model's system library (<model>_SYS.so in the device root). */

#ifdef __cplusplus
extern "C" {
#endif

/* 1 switches the vibrator on, 0 off. */
typedef int (*QnSetVibratorPowerFn)(int on);
/* Fills a system-information record of QN_SYSINFO_SIZE bytes; byte 22 holds a digit. */
typedef int (*QnGetSysInfoFn)(unsigned char* record);

#define QN_SYSINFO_SIZE 320
#define QN_SYSINFO_DIGIT_OFFSET 22

#ifdef __cplusplus
}
#endif
