// The yardstick for the side-by-side benchmark (bench/peer): the least a Wine
// window program costs. One hidden window and its message loop, nothing else;
// what Pixwick takes beyond this is its own.
#include <windows.h>

static LRESULT CALLBACK idle_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = idle_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = "PixwickBenchIdle";
    RegisterClassA(&window_class);
    CreateWindowA("PixwickBenchIdle", "idle", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, 0, 0, instance, 0);
    MSG message;
    while (GetMessageA(&message, 0, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
