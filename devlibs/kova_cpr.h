// The camera SDK (KOVANetSDK_CPR), as our own implementation with the maker's C
// interface. Steps 1 to 3 of the bring-up succeed (nonzero) and the parameter
// block is kept. For tests and demonstrations, KOVA_CPR_FAIL=init, getparam or
// setparam makes that step fail.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KOVA_CPR_PARAM {
    int32_t words[3];
} KOVA_CPR_PARAM;

typedef void (*KOVA_CPR_INFO_CALLBACK)(int event, const char* info, void* context);
typedef void (*KOVA_CPR_SEARCH_CALLBACK)(const char* device, void* context);

int KOVA_CPR_Init(int reserved);
int KOVA_CPR_GetParam(KOVA_CPR_PARAM* param);
int KOVA_CPR_SetParam(const KOVA_CPR_PARAM* param);
int KOVA_CPR_SetInfoCallBack(KOVA_CPR_INFO_CALLBACK callback, void* context);
int KOVA_CPR_SetHeartBeatParam(int intervalSeconds, int retries);
int KOVA_CPR_StopSearch(void);
int KOVA_CPR_SetSearchCB(KOVA_CPR_SEARCH_CALLBACK callback, void* context);
int KOVA_CPR_Cleanup(void);

// Extension for tests: the calls made since the last reset, by name, in order
// ("Init", "GetParam", ...), written into buffer separated by spaces.
void KOVA_CPR_ext_CallLog(char* buffer, int size);
void KOVA_CPR_ext_ResetCallLog(void);
// Extension for tests: the block last given to SetParam.
int KOVA_CPR_ext_LastParam(KOVA_CPR_PARAM* param);

#ifdef __cplusplus
}
#endif
