// The Core Audio stand-in (CoreAudioStandIn.dll): what a test needs to
// install and drive it. The library takes the place of Wine's device
// enumerator in the test prefix (registered under the MMDeviceEnumerator
// class id) and plays two render devices whose state a script changes while
// the program runs; it sends the notifications on a thread of its own.
#pragma once

#define COREAUDIO_STANDIN_DLL "CoreAudioStandIn.dll"
// Script and log files of the library, read from the environment of the
// process that loads it. Without a script there is no render device.
#define COREAUDIO_SCRIPT_VARIABLE "PIXWICK_COREAUDIO_SCRIPT"
#define COREAUDIO_LOG_VARIABLE "PIXWICK_COREAUDIO_LOG"

#define MMDEVICE_ENUMERATOR_KEY "SOFTWARE\\Classes\\CLSID\\{BCDE0395-E52F-467C-8E3D-C4579291692E}\\InprocServer32"

// The endpoint GUIDs of the two devices; their ids are
// "{0.0.0.00000000}." followed by the GUID.
#define COREAUDIO_DEVICE_0_GUID "{6B2AE8D0-3F5C-4E19-9E61-5A0B4C1D2E01}"
#define COREAUDIO_DEVICE_1_GUID "{6B2AE8D0-3F5C-4E19-9E61-5A0B4C1D2E02}"
#define COREAUDIO_RENDER_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render\\"

#include <windows.h>
#include <stdio.h>
#include <string.h>

// Registers the library at `dll` as the enumerator of this prefix, keeping
// the value it replaces in `saved` for coreaudio_standin_remove().
inline bool coreaudio_standin_install(const char *dll, char *saved, DWORD saved_size)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, MMDEVICE_ENUMERATOR_KEY, 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0) != 0)
        return false;
    memset(saved, 0, saved_size);
    DWORD size = saved_size - 1;
    if (RegQueryValueExA(key, 0, 0, 0, (BYTE *)saved, &size) != 0 || strstr(saved, COREAUDIO_STANDIN_DLL))
        snprintf(saved, saved_size, "mmdevapi.dll");
    bool ok = RegSetValueExA(key, 0, 0, REG_SZ, (const BYTE *)dll, (DWORD)strlen(dll) + 1) == 0;
    RegCloseKey(key);
    return ok;
}

inline void coreaudio_standin_remove(const char *saved)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MMDEVICE_ENUMERATOR_KEY, 0, KEY_SET_VALUE, &key) == 0) {
        RegSetValueExA(key, 0, 0, REG_SZ, (const BYTE *)saved, (DWORD)strlen(saved) + 1);
        RegCloseKey(key);
    }
}
