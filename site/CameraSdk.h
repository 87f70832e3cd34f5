// The camera maker's SDK as the window uses it: brought up with the window and
// taken down with it. The tool never logs in to a camera through it and starts
// no search of its own with it, but it stops the SDK's search, as the maker
// asks, when a search of the tool ends and when the window closes.
#pragma once

namespace lynx::site {

// Brings the SDK up (its initialisation, its parameters, its callbacks);
// null when it is up, else the text of the step that failed ("SDK初始化失败！",
// "获取SDK参数失败！" or "设置SDK参数失败！"), UTF-8. context is what the SDK
// hands back to the callbacks.
const char* BringUpCameraSdk(void* context);
// Stops the SDK's search and takes its search callback away.
void StopCameraSdkSearch(void* context);
void TakeDownCameraSdk();

} // namespace lynx::site
