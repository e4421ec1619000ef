// The plug-in frame: the module's exported entry points, its copies of the
// host's blocks, its two settings and the configuration dialog.
#pragma once

#include <cstdint>

#include "frame/host_api.h"

// The module's copies of the host's blocks, made by Start.
extern HostServices hostServices;
extern HostUtilities hostUtilities;
extern ModuleContext moduleContext;

// The two settings, 0 or 1 after loading.
extern int32_t Modality;
extern int32_t Visuality;

// HKEY_CURRENT_USER sub-key of the settings: "<registryRoot>\Velkory".
// Empty when the host's root does not fit, and then the settings live in
// memory only.
constexpr int SettingsKeyPathSize = 80;
extern char SettingsKeyPath[SettingsKeyPathSize];

extern "C" {
VK_EXPORT int32_t VK_STDCALL Start(const HostServices* services, const ModuleContext* context);
VK_EXPORT void VK_STDCALL Exit(void);
VK_EXPORT int32_t VK_STDCALL Message(int32_t request, const HelpRequest* help, ModuleInfo* info);
}

// Has the host copy message number into dest; returns dest.
char* LoadMessageText(int number, char* dest);

// Settings store.
void LoadSettings(void);
void SaveSettings(int32_t newModality, int32_t newVisuality);
int ReadSettingText(const char* valueName, char* dest, const char* defaultText, uint32_t capacity);
void WriteSettingText(const char* valueName, const char* text);

// Configuration dialog.
struct DialogItemTemplate {
    uint8_t kind, x1, y1, x2, y2;
    uint32_t flags;
    int8_t message;
};
constexpr int ConfigDialogItemCount = 7;
extern const DialogItemTemplate ConfigDialogTemplate[ConfigDialogItemCount];
void ExpandDialogItems(const DialogItemTemplate* templates, DialogItem* items, int count);
void RunConfigDialog(void);
