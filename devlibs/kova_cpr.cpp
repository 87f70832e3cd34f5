// The camera SDK stand-in: it keeps the parameter block and records the calls,
// so that the bring-up and take-down order can be checked.
#include "kova_cpr.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

struct SdkState {
    std::mutex mutex;
    KOVA_CPR_PARAM param{{0, 0, 0}};
    bool paramSet = false;
    std::string calls;
};

SdkState& state()
{
    static SdkState* s = new SdkState;
    return *s;
}

void record(const char* name)
{
    SdkState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.calls.empty())
        s.calls += ' ';
    s.calls += name;
}

bool failing(const char* step)
{
    const char* fail = std::getenv("KOVA_CPR_FAIL");
    return fail && std::strcmp(fail, step) == 0;
}

} // namespace

extern "C" {

int KOVA_CPR_Init(int)
{
    record("Init");
    return failing("init") ? 0 : 1;
}

int KOVA_CPR_GetParam(KOVA_CPR_PARAM* param)
{
    record("GetParam");
    if (!param || failing("getparam"))
        return 0;
    SdkState& s = state();
    std::lock_guard lock(s.mutex);
    *param = s.param;
    return 1;
}

int KOVA_CPR_SetParam(const KOVA_CPR_PARAM* param)
{
    record("SetParam");
    if (!param || failing("setparam"))
        return 0;
    SdkState& s = state();
    std::lock_guard lock(s.mutex);
    s.param = *param;
    s.paramSet = true;
    return 1;
}

int KOVA_CPR_SetInfoCallBack(KOVA_CPR_INFO_CALLBACK, void*)
{
    record("SetInfoCallBack");
    return 1;
}

int KOVA_CPR_SetHeartBeatParam(int, int)
{
    record("SetHeartBeatParam");
    return 1;
}

int KOVA_CPR_StopSearch(void)
{
    record("StopSearch");
    return 1;
}

int KOVA_CPR_SetSearchCB(KOVA_CPR_SEARCH_CALLBACK, void*)
{
    record("SetSearchCB");
    return 1;
}

int KOVA_CPR_Cleanup(void)
{
    record("Cleanup");
    return 1;
}

void KOVA_CPR_ext_CallLog(char* buffer, int size)
{
    if (!buffer || size <= 0)
        return;
    SdkState& s = state();
    std::lock_guard lock(s.mutex);
    std::strncpy(buffer, s.calls.c_str(), static_cast<size_t>(size) - 1);
    buffer[size - 1] = '\0';
}

void KOVA_CPR_ext_ResetCallLog(void)
{
    SdkState& s = state();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
}

int KOVA_CPR_ext_LastParam(KOVA_CPR_PARAM* param)
{
    SdkState& s = state();
    std::lock_guard lock(s.mutex);
    if (!param || !s.paramSet)
        return 0;
    *param = s.param;
    return 1;
}

} // extern "C"
