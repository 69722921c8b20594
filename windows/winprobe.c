/* Looks at a running Wine session from inside, as Windows programs see it,
 * for the window test: the screen size, every top-level window (its process,
 * frame and client rectangles, title) and every process. All in UTF-8, one
 * record a line:
 *   acp CODEPAGE
 *   screen W H
 *   window PID EXE VISIBLE LEFT TOP RIGHT BOTTOM CLIENTW CLIENTH TITLE
 *   process PID EXE
 */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

static void PutUtf8(const wchar_t *text)
{
    char buffer[4096];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    if (size > 1)
        fwrite(buffer, 1, (size_t)(size - 1), stdout);
}

static void ExeOf(DWORD pid, wchar_t *out, size_t room)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    wcscpy(out, L"?");
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    entry.dwSize = sizeof entry;
    if (Process32FirstW(snapshot, &entry)) {
        do {
            if (entry.th32ProcessID == pid) {
                wcsncpy(out, entry.szExeFile, room - 1);
                out[room - 1] = L'\0';
                break;
            }
        } while (Process32NextW(snapshot, &entry));
    }
    CloseHandle(snapshot);
}

static BOOL CALLBACK OneWindow(HWND window, LPARAM unused)
{
    wchar_t title[1024], exe[MAX_PATH];
    RECT frame, client;
    DWORD pid = 0;
    (void)unused;
    title[0] = L'\0';
    GetWindowTextW(window, title, 1024);
    GetWindowThreadProcessId(window, &pid);
    ExeOf(pid, exe, MAX_PATH);
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    printf("window %lu ", (unsigned long)pid);
    PutUtf8(exe);
    printf(" %d %ld %ld %ld %ld %ld %ld ", IsWindowVisible(window) ? 1 : 0, frame.left, frame.top,
           frame.right, frame.bottom, client.right - client.left, client.bottom - client.top);
    PutUtf8(title);
    printf("\n");
    return TRUE;
}

int main(void)
{
    HANDLE snapshot;
    PROCESSENTRY32W entry;
    printf("acp %u\n", GetACP());
    printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EnumWindows(OneWindow, 0);
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        entry.dwSize = sizeof entry;
        if (Process32FirstW(snapshot, &entry)) {
            do {
                printf("process %lu ", (unsigned long)entry.th32ProcessID);
                PutUtf8(entry.szExeFile);
                printf("\n");
            } while (Process32NextW(snapshot, &entry));
        }
        CloseHandle(snapshot);
    }
    fflush(stdout);
    return 0;
}
