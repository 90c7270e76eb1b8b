// Driving a module's stand-in from the fault and soak runs, in one of four
// ways (Control). Commands are written in batches separated by ';' and
// followed by "mark N"; this side waits until the mark is in the stand-in's
// log. Any stand-in with a process of its own can be hung as a whole: every
// thread of its process is suspended, as a debugger or a stuck driver would
// leave it.
#pragma once
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "coreaudio_standin.h"
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

enum Control {
    BY_STDIN,        // the standin_script.h form: commands on standard input, each one logged
    BY_START_SCRIPT, // a script when it starts, no commands after; ended from outside
    BY_SCRIPT_FILE,  // a script file it reads as it grows, logging "mark N" when it gets there
    IN_PROGRAM,      // the Core Audio library, loaded by the program and reading its script as it grows
};

// One module's stand-in as the runs drive it (module_standins.h has them all).
struct StandIn {
    const char *name;
    const char *exe;                  // under standins\ of the build tree
    Control control;
    const char *settings;             // settings lines that bring its pages up
    std::vector<Page> pages;          // where they show while it runs normally
    const char *start;                // its normal state: commands, or the script it starts with
    const char *quit;                 // commands that end it as the real program ends; null: ended from outside
    std::vector<const char *> garbage; // commands (or start scripts) that publish garbage
    std::vector<const char *> changes; // soak: state changes, one at a time; "%d" gets a varying number
    const char *ended_by_press;       // LCD Manager command with which the program ends it (its page's long press)
    const char *details_press;        // LCD Manager command that has its pages show more (modes, pop-ups)
    // A COM local server: it registers itself before its first start, and it
    // is always quit, never killed (under Wine a killed one stays registered
    // with the RPC service and no client reaches its next instance).
    bool com_server;
};

class StandInProcess {
public:
    StandInProcess(const StandIn &kind, const std::string &work) : kind(kind), work(work) {}
    ~StandInProcess() { end(); }

    // Once, before the program starts: a COM server registers itself; the
    // Core Audio library takes the place of Wine's, without a device until
    // it starts, for the program started from here.
    bool install()
    {
        if (kind.com_server)
            return run_to_end(exe_path() + " --register");
        if (kind.control != IN_PROGRAM)
            return true;
        SetEnvironmentVariableA(COREAUDIO_SCRIPT_VARIABLE, script_path().c_str());
        SetEnvironmentVariableA(COREAUDIO_LOG_VARIABLE, log_path().c_str());
        return write_file(script_path(), lines(kind.quit)) &&
               (installed = coreaudio_standin_install(exe_path().c_str(), saved_server, sizeof saved_server));
    }

    void uninstall()
    {
        if (installed)
            coreaudio_standin_remove(saved_server);
        installed = false;
    }

    // Starts it in its normal state, or with `script` instead.
    bool start(const char *script = 0)
    {
        end();
        const char *commands = script ? script : kind.start;
        if (kind.control == IN_PROGRAM)
            return in_program = append(lines(commands));
        if (kind.control == BY_START_SCRIPT)
            return write_file(script_path(), commands) && launch();
        if (kind.control == BY_STDIN)
            return launch() && send(commands);
        // A stand-in that ends at once (a block of the last instance still
        // held open by the program) is started again.
        for (int attempt = 0; attempt < 5; attempt++, Sleep(200)) {
            const std::string mark = next_mark();
            if (write_file(script_path(), lines(commands + ("; " + mark))) && launch() && marked(mark))
                return true;
            end();
        }
        return false;
    }

    // Sends commands and waits until the stand-in has done them (the
    // library in the program takes them when the program asks it next).
    bool send(const std::string &commands)
    {
        if (kind.control == IN_PROGRAM)
            return append(lines(commands));
        const std::string mark = next_mark(), text = commands + "; " + mark;
        DWORD written;
        if (kind.control == BY_STDIN)
            return input && WriteFile(input, (text + "\n").data(), (DWORD)text.size() + 1, &written, 0) && marked(mark);
        return kind.control == BY_SCRIPT_FILE && append(lines(text)) && marked(mark);
    }

    // Ends it as the real program ends, or from outside when it has no way.
    bool quit()
    {
        if (kind.control == IN_PROGRAM) {
            in_program = false;
            return append(lines(kind.quit));
        }
        if (kind.quit && (input || kind.control == BY_SCRIPT_FILE)) {
            const std::string text = lines(kind.quit);
            DWORD written;
            if (kind.control == BY_STDIN)
                WriteFile(input, text.data(), (DWORD)text.size(), &written, 0);
            else
                append(text);
            if (WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0) {
                servers_gone += kind.com_server;
                return end(), true;
            }
        }
        return !kind.com_server && kill();
    }

    // Ends it as a crash would.
    bool kill()
    {
        if (kind.com_server || kind.control == IN_PROGRAM)
            return quit();
        bool ended = process.hProcess && TerminateProcess(process.hProcess, 9) &&
                     WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
        end();
        return ended;
    }

    bool suspend(bool on) { return suspend_process(process.hProcess, on); }

    bool running() const
    {
        return in_program || (process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT);
    }

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
            if (kind.com_server && running()) { // its own way out
                append(lines(kind.quit));
                servers_gone += WaitForSingleObject(process.hProcess, 5000) == WAIT_OBJECT_0;
            }
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
    long servers_gone = 0; // instances of a COM server that have quit

private:
    std::string work;
    HANDLE input = 0;
    PROCESS_INFORMATION process = {};
    bool in_program = false, installed = false;
    char saved_server[MAX_PATH] = "";

    std::string script_path() const { return work + "\\" + kind.name + ".script"; }
    std::string exe_path() const
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(0, path, sizeof path);
        return std::string(path).substr(0, std::string(path).rfind('\\')) + "\\standins\\" + kind.exe;
    }

    static std::string next_mark()
    {
        static int serial;
        return "mark " + std::to_string(++serial);
    }
    // The mark is in the log; false at once when the stand-in has ended.
    bool marked(const std::string &mark)
    {
        return WAIT_UNTIL(logged(mark) || !running(), 10000) && running();
    }
    bool logged(const std::string &mark) const
    {
        const std::string log = read_binary_file(log_path()); // lines end in CR LF or LF
        return log.find(mark + "\r\n") != std::string::npos || log.find(mark + "\n") != std::string::npos;
    }

    // A batch as script lines.
    static std::string lines(std::string commands)
    {
        for (char &c : commands)
            if (c == ';')
                c = '\n';
        return commands + "\n";
    }

    static bool write_file(const std::string &path, const std::string &text)
    {
        FILE *f = fopen(path.c_str(), "wb");
        bool ok = f && fwrite(text.data(), 1, text.size(), f) == text.size();
        return (f && fclose(f) == 0) && ok;
    }
    bool append(const std::string &text)
    {
        HANDLE file = CreateFileA(script_path().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                  OPEN_ALWAYS, 0, 0);
        DWORD written = 0;
        bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, text.data(), (DWORD)text.size(), &written, 0) &&
                  written == text.size();
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return ok;
    }

    bool launch()
    {
        const std::string exe = exe_path();
        std::string line = "\"" + exe + "\" --lifetime 7200 --log \"" + log_path() + "\"";
        if (kind.control == BY_STDIN)
            line += " --stdin";
        else
            line += " --parent " + std::to_string(GetCurrentProcessId()) + " --script \"" + script_path() + "\"";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
        HANDLE read_end = 0;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (kind.control == BY_STDIN) {
            if (!CreatePipe(&read_end, &input, &inherit, 0))
                return false;
            SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
            startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdInput = read_end;
        }
        BOOL started = CreateProcessA(exe.c_str(), &line[0], 0, 0, kind.control == BY_STDIN, CREATE_NO_WINDOW, 0,
                                      work.c_str(), &startup, &process);
        if (read_end)
            CloseHandle(read_end);
        return started;
    }

    bool run_to_end(std::string line)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(0, &line[0], 0, 0, FALSE, CREATE_NO_WINDOW, 0, 0, &startup, &p))
            return false;
        DWORD code = 1;
        WaitForSingleObject(p.hProcess, 30000);
        GetExitCodeProcess(p.hProcess, &code);
        CloseHandle(p.hProcess);
        CloseHandle(p.hThread);
        return code == 0;
    }
};

} // namespace faults
