// The plug-in's activation context, created once from its own manifest (resource 2) and kept
// for the life of the process; a context that cannot be created leaves the host's controls in
// use, which only changes how the dialogs look.
#include "ui/comctl_context_win.h"

#include "base/host_context.h"

namespace {

HANDLE PluginActCtx()
{
    static HANDLE context = [] {
        ACTCTXW request = {};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.hModule = (HMODULE)ModuleInstance;
        request.lpResourceName = MAKEINTRESOURCEW(2);
        return ModuleInstance ? CreateActCtxW(&request) : INVALID_HANDLE_VALUE;
    }();
    return context;
}

}  // namespace

ComCtlV6Scope::ComCtlV6Scope()
{
    HANDLE context = PluginActCtx();
    if (context != INVALID_HANDLE_VALUE)
        active_ = ActivateActCtx(context, &cookie_) != FALSE;
}

ComCtlV6Scope::~ComCtlV6Scope()
{
    if (active_)
        DeactivateActCtx(0, cookie_);
}
