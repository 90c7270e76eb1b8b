// Driving a module's stand-in from the fault and soak runs. A stand-in of the
// standin_script.h form reads its commands from standard input and logs each
// one it did; this side writes a batch followed by "mark N" and waits until
// the mark is in the log. Others take their script when they start and are
// ended from outside. Any stand-in can be hung as a whole: every thread of
// its process is suspended, as a debugger or a stuck driver would leave it.
#pragma once
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "lcdmon_session.h"
#include "log_files.h"

namespace faults {

// Every thread of the process stops (on) or goes on (off).
inline bool suspend_process(HANDLE process, bool on)
{
    typedef LONG(WINAPI * ProcessFn)(HANDLE);
    ProcessFn call =
        (ProcessFn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), on ? "NtSuspendProcess" : "NtResumeProcess");
    return process && call && call(process) == 0;
}

struct Page {
    int slot;
    const char *label; // the page's code, drawn in its label bar
};

// One module's stand-in as the runs drive it (module_standins.h has them all).
struct StandIn {
    const char *name;
    const char *exe;                  // under standins\ of the build tree
    bool reads_stdin;                 // the standin_script.h form
    const char *settings;             // settings lines that bring its pages up
    std::vector<Page> pages;          // where they show while it runs normally
    const char *start;                // its normal state: commands, or the script it starts with
    const char *quit;                 // commands that end it as the real program ends; null: ended from outside
    std::vector<const char *> garbage; // commands (or start scripts) that publish garbage
    std::vector<const char *> changes; // soak: state changes, one at a time; "%d" gets a varying number
    const char *ended_by_press;       // LCD Manager command with which the program ends it (its page's long press)
    const char *details_press;        // LCD Manager command that has its pages show more (modes, pop-ups)
};

class StandInProcess {
public:
    StandInProcess(const StandIn &kind, const std::string &work) : kind(kind), work(work) {}
    ~StandInProcess() { end(); }

    // Starts it in its normal state, or with `script` instead.
    bool start(const char *script = 0)
    {
        end();
        char path[MAX_PATH] = "";
        GetModuleFileNameA(0, path, sizeof path);
        std::string exe = std::string(path).substr(0, std::string(path).rfind('\\')) + "\\standins\\" + kind.exe;
        std::string line = "\"" + exe + "\" --lifetime 7200 --log \"" + log_path() + "\"";
        if (kind.reads_stdin)
            line += " --stdin";
        else if (write_script(script ? script : kind.start))
            line += " --parent " + std::to_string(GetCurrentProcessId()) + " --script \"" + script_path() + "\"";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
        HANDLE read_end = 0;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (kind.reads_stdin) {
            if (!CreatePipe(&read_end, &input, &inherit, 0))
                return false;
            SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
            startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdInput = read_end;
        }
        BOOL started = CreateProcessA(exe.c_str(), &line[0], 0, 0, kind.reads_stdin, CREATE_NO_WINDOW, 0, work.c_str(),
                                      &startup, &process);
        if (read_end)
            CloseHandle(read_end);
        if (!started)
            return false;
        return !kind.reads_stdin || send(script ? script : kind.start);
    }

    // Sends commands and waits until the stand-in has done them.
    bool send(const std::string &commands)
    {
        static int serial;
        std::string mark = "mark " + std::to_string(++serial), text = commands + "; " + mark + "\n";
        DWORD written;
        return input && WriteFile(input, text.data(), (DWORD)text.size(), &written, 0) &&
               WAIT_UNTIL(read_binary_file(log_path()).find(mark + "\r\n") != std::string::npos, 10000);
    }

    // Ends it as the real program ends, or from outside when it has no way.
    bool quit()
    {
        if (kind.quit && input) {
            std::string text = std::string(kind.quit) + "\n";
            DWORD written;
            WriteFile(input, text.data(), (DWORD)text.size(), &written, 0);
            if (WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0)
                return end(), true;
        }
        return kill();
    }

    // Ends it as a crash would.
    bool kill()
    {
        bool ended = process.hProcess && TerminateProcess(process.hProcess, 9) &&
                     WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
        end();
        return ended;
    }

    bool suspend(bool on) { return suspend_process(process.hProcess, on); }

    bool running() const { return process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT; }

    // Waits until it has ended by itself; exit code or -1.
    long exit_code_within(DWORD ms)
    {
        DWORD code = 0;
        if (!process.hProcess || WaitForSingleObject(process.hProcess, ms) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process.hProcess, &code))
            return -1;
        end();
        return (long)code;
    }

    void end()
    {
        if (input)
            CloseHandle(input);
        input = 0;
        if (process.hProcess) {
            suspend(false);
            TerminateProcess(process.hProcess, 9); // fails harmlessly once it has ended
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        process = PROCESS_INFORMATION{};
    }

    std::string log_path() const { return work + "\\" + kind.name + ".log"; }
    void delete_files() const
    {
        DeleteFileA(log_path().c_str());
        DeleteFileA(script_path().c_str());
    }

    const StandIn &kind;

private:
    std::string work;
    HANDLE input = 0;
    PROCESS_INFORMATION process = {};

    std::string script_path() const { return work + "\\" + kind.name + ".script"; }
    bool write_script(const char *script)
    {
        FILE *f = fopen(script_path().c_str(), "wb");
        bool ok = f && fputs(script, f) >= 0;
        return (f && fclose(f) == 0) && ok;
    }
};

} // namespace faults
