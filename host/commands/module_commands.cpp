// The information and configuration commands, through the module.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"

namespace {

bool PrintSettings()
{
    int32_t modality = 0, visuality = 0;
    ReadSettings(modality, visuality);
    if (SettingsReadFailed())
        return false;
    printf("Modality:  %d (%s)\n", modality, ModuleMessageText(modality ? 3 : 4));
    printf("Visuality: %d (%s)\n", visuality, ModuleMessageText(visuality ? 6 : 5));
    return true;
}

}  // namespace

int InfoCommand(const CommandLine& line)
{
    ModuleSession session(line.modulePath, RequestOptions());
    if (!session.Begin())
        return ExitFailed;
    ModuleInfo info;
    memset(&info, 0, sizeof info);
    info.hostField = (int32_t)sizeof info;
    int32_t result = session.Send(RequestInfo, nullptr, &info);
    if (result == 0) {
        Complain("the module did not answer the information request");
        return ExitFailed;
    }
    std::string names;
    int32_t count = info.nameCount;
    if (count < 0 || count > 64 || (count > 0 && !info.names))
        count = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (!info.names[i])
            continue;
        if (!names.empty())
            names += ", ";
        names += OemTextForDisplay(info.names[i]);
    }
    char title[ModuleTitleSize + 1];
    memcpy(title, info.title, ModuleTitleSize);
    title[ModuleTitleSize] = '\0';
    printf("Names:        %s\n", names.c_str());
    printf("Title:        %s\n", OemTextForDisplay(title).c_str());
    std::string what;
    if (info.capabilities & ModuleCapabilities)
        what = " (answers help requests)";
    printf("Capabilities: %d%s\n", info.capabilities, what.c_str());
    return ExitOk;
}

int ConfigCommand(const CommandLine& line)
{
    bool answered = line.modality >= 0 || line.visuality >= 0;
    if (line.show) {
        if (answered || line.cancel)
            return UsageFailure("--show does not go with --modality, --visuality or --cancel");
        return PrintSettings() ? ExitOk : ExitFailed;
    }
    if (answered && line.cancel)
        return UsageFailure("--cancel does not go with --modality or --visuality");
    if (!answered && !line.cancel && !IsInteractive())
        return UsageFailure(
            "config without a terminal needs --modality N --visuality N, --cancel or --show");

    RequestOptions options;
    options.modality = line.modality;
    options.visuality = line.visuality;
    options.cancel = line.cancel;
    ModuleSession session(line.modulePath, options);
    if (!session.Begin())
        return ExitFailed;
    int32_t result = session.Send(RequestConfigure, nullptr, nullptr);
    if (result == 0) {
        Complain("the module did not answer the configuration request");
        return ExitFailed;
    }
    if (SettingsSaveFailed(session))
        return ExitFailed;
    if ((!IsInteractive() || answered || line.cancel) && !PrintSettings())
        return ExitFailed;
    return ExitOk;
}
