// The two settings and their place in the registry.
//
// Both live in HKEY_CURRENT_USER\<registryRoot>\Velkory as REG_SZ values
// holding decimal text ("0" or "1" and the terminator). Loading reads both
// values through one open key and a save writes both through one open key,
// so that they are read and stored together. Reading never creates the key;
// any failure while reading falls back to the text "0", and a failed write is
// silent: the new values then hold in memory only.
#include "frame/frame.h"
#include "platform/platform.h"

int32_t Modality;
int32_t Visuality;
char SettingsKeyPath[SettingsKeyPathSize];

// A value is read into 10 bytes at most: 9 characters and the terminator.
static const uint32_t SettingCapacity = 10;

static HKEY OpenSettingsKeyForRead(void)
{
    HKEY key = nullptr;
    if (SettingsKeyPath[0] == '\0')
        return nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

static HKEY OpenSettingsKeyForWrite(void)
{
    HKEY key = nullptr;
    if (SettingsKeyPath[0] == '\0')
        return nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// dest holds at least capacity + 1 bytes, so that a value that fills the
// whole capacity without a terminator still ends as text within the bytes read.
static int QuerySettingText(HKEY key, const char* valueName, char* dest, const char* defaultText,
                            uint32_t capacity)
{
    if (key != nullptr) {
        DWORD type = 0;
        DWORD size = capacity;
        LONG status = RegQueryValueExA(key, valueName, nullptr, &type, (LPBYTE)dest, &size);
        if (status == ERROR_SUCCESS && size <= capacity) {
            // The value's type is ignored: its bytes are text up to the first zero.
            dest[size] = '\0';
            return 1;
        }
    }
    lstrcpyA(dest, defaultText);
    return 0;
}

int ReadSettingText(const char* valueName, char* dest, const char* defaultText, uint32_t capacity)
{
    HKEY key = OpenSettingsKeyForRead();
    int found = QuerySettingText(key, valueName, dest, defaultText, capacity);
    if (key != nullptr)
        RegCloseKey(key);
    return found;
}

static void SetSettingText(HKEY key, const char* valueName, const char* text)
{
    if (text != nullptr)
        RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE*)text, (DWORD)lstrlenA(text) + 1);
}

void WriteSettingText(const char* valueName, const char* text)
{
    if (text == nullptr)
        return;
    HKEY key = OpenSettingsKeyForWrite();
    if (key == nullptr)
        return;
    SetSettingText(key, valueName, text);
    RegCloseKey(key);
}

// "%i" takes a sign, then decimal, 0x-hexadecimal or 0-octal digits. A text
// with no number leaves the setting as it was; the result is reduced to its
// parity, negative numbers included.
static void LoadSetting(HKEY key, const char* valueName, int32_t* setting)
{
    char text[12];
    QuerySettingText(key, valueName, text, "0", SettingCapacity);
    hostUtilities.ScanText(text, "%i", setting);
    *setting = *setting & 1;
}

void LoadSettings(void)
{
    // Both values are read through one open key: one version of the settings.
    HKEY key = OpenSettingsKeyForRead();
    LoadSetting(key, "Modality", &Modality);
    LoadSetting(key, "Visuality", &Visuality);
    if (key != nullptr)
        RegCloseKey(key);
}

void SaveSettings(int32_t newModality, int32_t newVisuality)
{
    char text[12];
    Modality = newModality;
    Visuality = newVisuality;
    // Both values go through one open key, so that they are stored together.
    HKEY key = OpenSettingsKeyForWrite();
    if (key == nullptr)
        return;
    SetSettingText(key, "Modality", hostUtilities.IntToText(Modality, text, 10));
    SetSettingText(key, "Visuality", hostUtilities.IntToText(Visuality, text, 10));
    RegCloseKey(key);
}
