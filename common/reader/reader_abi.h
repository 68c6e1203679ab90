#pragma once
/* The C operations of the reader library ScanSvc_CE.so, as the programs call them.
 * Each per-symbology operation takes the mode character ('r' or 'w') and then exactly its
 * number of int pointers (engine_operations.h); they are not listed one by one here. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How the library posts a registered window message ("WM_DECODEDATA") to the program.
 * Called from the library's own thread. */
typedef int (*QnPostRegisteredMessage)(void* target, const char* messageName, uintptr_t wParam);

typedef int (*QnInitReaderFn)(void);
typedef int (*QnInitReaderExFn)(int devices);
typedef int (*QnGetReaderTypeFn)(void);
typedef int (*QnGetActiveDeviceFn)(void);
typedef int (*QnSetActiveDeviceFn)(int mask);
typedef int (*QnSetTriggerKeyFn)(int on);
typedef int (*QnGetTriggerKeyStatusFn)(void);
typedef int (*QnHaltReaderFn)(int devices);
typedef int (*QnGetOutputRecordFn)(int kind, unsigned char* buffer, int size);
typedef int (*QnGetDecodeDataFn)(unsigned char* buffer, int size);
typedef int (*QnGetDecodeRfidFn)(unsigned char* buffer, int size);
typedef int (*QnGetDllDefaultSettingsFn)(unsigned char* block29);
typedef int (*QnResetReaderToDefaultFn)(int devices);
typedef int (*QnGetDllVerFn)(char* buffer, int size);
typedef int (*QnNotificationSettingsFn)(char mode, int*, int*, int*, int*, int*, int*);
typedef int (*QnRfidSettingsFn)(char mode, int* showUid, int* showUserData, int* startPosition,
                                int* maximumLength, int* reserved, int* decodeTimeout,
                                unsigned char* block, int blockSize, int* value);
typedef int (*QnGetReaderSettingsFn)(void* settings);
typedef int (*QnSetReaderSettingsFn)(const void* settings);
typedef int (*QnGetDecodeTypeFn)(void);
typedef int (*QnDataOutputSettingsFn)(char mode, unsigned char* block29);
typedef int (*QnReadRfidDataFn)(unsigned char* buffer, int size);
typedef int (*QnBeeperFn)(int sound);
/* The registration operation: where "WM_DECODEDATA" goes. 1 = registered. */
typedef int (*QnRegisterDecodeTargetFn)(QnPostRegisteredMessage post, void* target);

/* Size of the data-output block filled by GetDllDefaultSettings. */
#define QN_LIBRARY_DEFAULTS_SIZE 29
/* Size of the RFID block passed to RfidSettings. */
#define QN_RFID_LIBRARY_BLOCK_SIZE 18

/* Reader-type mask bits. */
#define QN_READER_1D 0x01
#define QN_READER_1D_LONG_RANGE 0x02
#define QN_READER_2D 0x04
#define QN_READER_RFID 0x10
#define QN_READER_2D_4507 0x40
#define QN_READER_1D_SE955 0x80
#define QN_READER_RFID_ALT 0x100

/* Active-device mask bits. */
#define QN_DEVICE_BARCODE 0x07
#define QN_DEVICE_RFID 0x20

/* wParam of "WM_DECODEDATA". */
#define QN_DECODE_BARCODE 7
#define QN_DECODE_RFID 8

#ifdef __cplusplus
}
#endif
