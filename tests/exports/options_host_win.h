// What the options dialog tests share: a plug-in holding given settings in its blob, with its
// data folder in the test's folder; finding pages, windows and rows; choosing editor commands.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exports/plugin_host.h"
#include "exports/ui_script_win.h"
#include "settings/settings.h"
#include "settings/settings_file_codec.h"

struct OptionsHost {
    PluginHost host;
    HostConfigBlob blob;

    explicit OptionsHost(void (*edit)(NyraSettings&) = nullptr)
    {
        host.setDevicesDir(host.dir().path());
        memset(&blob, 0, sizeof blob);
        blob.version = kHostBlobVersion;
        memcpy(blob.magic, "NYRS", 4);
        SettingsDefaults(&blob.settings);
        if (edit)
            edit(blob.settings);
        host.fn<uint32_t(__stdcall*)(const void*, uint32_t)>("SEDSetConfigurationAndOptions")(&blob,
                                                                                              sizeof blob);
    }
    std::string dataDir() const { return host.dir().file("Nyra"); }
    std::string settingsPath() const { return dataDir() + "\\settings.dat"; }
    HostConfigBlob currentBlob()
    {
        HostConfigBlob now;
        host.fn<uint32_t(__stdcall*)(void*)>("SEDGetConfigurationAndOptions")(&now);
        return now;
    }
    NyraSettings savedFile() const
    {
        std::vector<uint8_t> bytes = ReadFileBytes(settingsPath());
        NyraSettings s;
        memset(&s, 0, sizeof s);
        uint32_t version = 0;
        EXPECT_TRUE(DecodeSettingsFile(bytes.data(), bytes.size(), &s, &version));
        return s;
    }
    // Runs the export with the script ticking inside its dialogs.
    void show(UiScript& script)
    {
        script.start();
        host.fn<void(__stdcall*)()>("SEDDisplayOptions")();
        EXPECT_TRUE(script.finished()) << script.failure();
    }
};

// The page of the options dialog that holds control id.
inline HWND PageWith(HWND dialog, int id)
{
    for (HWND c = FindWindowExA(dialog, nullptr, "#32770", nullptr); c;
         c = FindWindowExA(dialog, c, "#32770", nullptr))
        if (GetDlgItem(c, id))
            return c;
    return nullptr;
}

inline UiScript::Step WaitFor(HWND* window, const char* caption, bool messageBox = false)
{
    return [=] { return (*window = FindDialog(caption, messageBox)) != nullptr; };
}

inline UiScript::Step Gone(const char* caption)
{
    return [=] { return FindDialog(caption) == nullptr; };
}

// Selects a row of the filter editor's list as a click would.
inline void SelectRow(HWND list, int index)
{
    LVITEMA state = {};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, index, (LPARAM)&state);
}

// A menu command as the editor receives it when the user picks the item; posted, so that a
// dialog it opens runs from the editor's own loop.
inline void Choose(HWND editor, int command)
{
    PostMessageA(editor, WM_COMMAND, command, 0);
}
