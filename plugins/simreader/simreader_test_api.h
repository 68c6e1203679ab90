#pragma once
/* Test-only operations of the simulated reader ScanSvc_CE.so. The programs never bind them. */

#ifdef __cplusplus
extern "C" {
#endif

/* The call log, one operation per line, oldest first (the last 4096 calls are kept):
 * "InitReader", "HaltReader 255", "SetTriggerKey 1", "SetActiveDevice 0x27", "Code39_2D r",
 * "NotificationSettings w", "GetOutputRecord 7", "RegisterDecodeTarget" ... Copies at most
 * size - 1 bytes and a terminator; returns the length of the whole log. */
typedef int (*QnSimCallLogFn)(char* buffer, int size);
typedef void (*QnSimClearCallLogFn)(void);
/* The scan socket's path once InitReader has run; returns the bytes copied. */
typedef int (*QnSimSocketPathFn)(char* buffer, int size);
/* 1 while the serial scanner of reader.ini is open. */
typedef int (*QnSimSerialOpenFn)(void);
/* How often a keyboard-mode or HID POS scanner of reader.ini was opened (found, or found again
 * after an unplug) since the library was loaded or reset. */
typedef int (*QnSimScannerOpensFn)(void);
/* Where the last decode came from ("socket", "serial", "keyboard", "hidpos") and the symbology
 * identifier its scanner sent ("" when none); each copies at most size - 1 bytes and a
 * terminator. Returns 0 before the first decode. */
typedef int (*QnSimDecodeSourceFn)(char* kind, int kindSize, char* symbology, int symbologySize);
/* Delivers a decode as if it came from the scan socket: kind 7 barcode (data), 8 RFID (UID in
 * data, user data). Returns a reply status: QN_SIM_DELIVERED, QN_SIM_TRIGGER_OFF, ... */
typedef int (*QnSimInjectDecodeFn)(int kind, const unsigned char* data, int dataSize,
                                   const unsigned char* userData, int userDataSize);
/* Back to a freshly loaded library: threads stopped, reader.ini read again, factory values,
 * no target, empty log. */
typedef void (*QnSimResetFn)(void);

/* The reply statuses of the scan socket (scan_protocol.h, ReplyStatus). */
#define QN_SIM_DELIVERED 0
#define QN_SIM_TRIGGER_OFF 1
#define QN_SIM_DEVICE_INACTIVE 2
#define QN_SIM_NO_TARGET 3
#define QN_SIM_SHUTTING_DOWN 4
#define QN_SIM_BAD_REQUEST 5

#ifdef __cplusplus
}
#endif
