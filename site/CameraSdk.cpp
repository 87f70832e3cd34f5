#include "site/CameraSdk.h"

#include "kova_cpr.h"

namespace lynx::site {

namespace {

void OnSdkInfo(int, const char*, void*) {}

} // namespace

const char* BringUpCameraSdk(void* context)
{
    if (!KOVA_CPR_Init(0))
        return "SDK初始化失败！";
    KOVA_CPR_PARAM sdkParam{};
    if (!KOVA_CPR_GetParam(&sdkParam))
        return "获取SDK参数失败！";
    sdkParam.words[1] = 1;
    if (!KOVA_CPR_SetParam(&sdkParam))
        return "设置SDK参数失败！";
    KOVA_CPR_SetInfoCallBack(OnSdkInfo, context);
    KOVA_CPR_SetHeartBeatParam(5, 2);
    return nullptr;
}

void StopCameraSdkSearch(void* context)
{
    KOVA_CPR_StopSearch();
    KOVA_CPR_SetSearchCB(nullptr, context);
}

void TakeDownCameraSdk()
{
    KOVA_CPR_Cleanup();
}

} // namespace lynx::site
