// The console the program was started from: key wait, title, and detaching from it.
#pragma once

#include <cstdio>
#include <string_view>
#include <system_error>

#include "platform/error_text.h"

namespace chron::platform {

// Gives a program without a console (a Windows GUI program started from the desktop or the Start
// menu) a console of its own for standard input, output and error. Standard handles that lead
// somewhere already (a console, a terminal, a pipe or a file) are kept; on Linux they always do.
// A console created here shows UTF-8 (UseUtf8Console).
void OpenConsole();

// Console output in UTF-8, the encoding of every text of these programs, from here on. On Windows
// it sets the output code page of the console the process is attached to, which a console
// program shares with the program that started it: RestoreConsole gives the previous code page
// back. OpenConsole calls it for the console it creates. Nothing to do on Linux.
void UseUtf8Console();

// Gives the console the output code page it had before UseUtf8Console; call it before the
// process ends. Nothing to do on Linux or when UseUtf8Console changed nothing.
void RestoreConsole();

// Writes the UTF-8 text `text` to `stream` (stdout or stderr). On Windows, where the stream leads
// to a console, the console gets it in UTF-16 (WriteConsoleW, after what the stream holds), so
// that every character shows whatever the console's code page (Windows 7 garbles umlauts in
// UTF-8, code page 65001); anywhere else (a terminal, a pipe, a file) the stream gets the bytes
// as they are.
void WriteText(std::FILE* stream, std::string_view text);

// std::fprintf through WriteText. The formats are the C99 ones on both systems (C++ programs of
// mingw-w64 use its own vsnprintf, not msvcrt's), %zu included: hence GCC's gnu_printf, which
// clang (tidy, fuzzing) does not know; its printf is the C99 one.
#if defined(__clang__)
#define CHRON_C99_PRINTF(format_index, first_argument) __attribute__((format(printf, format_index, first_argument)))
#else
#define CHRON_C99_PRINTF(format_index, first_argument) __attribute__((format(gnu_printf, format_index, first_argument)))
#endif
void PrintText(std::FILE* stream, const char* format, ...) CHRON_C99_PRINTF(2, 3);

// True when standard input is a terminal.
bool StdinIsTerminal();

// Waits for one key press on the terminal of standard input, read without echo and without
// line editing; Ctrl+C counts as a key here. Returns at once when standard input is not a
// terminal, or the process runs in the background of it, so a program started by a script never
// hangs.
void WaitForKey();

// Sets the title of the terminal window when standard output is a terminal; otherwise writes
// nothing. Control characters in `title` are dropped. Goes through stdout's buffer and flushes it,
// so it stays in order with printed text.
void SetTerminalTitle(std::string_view title);

// Detaches the process from its terminal and runs it on as a background daemon in a session of
// its own, with standard input, output and error on /dev/null (working directory and umask are
// kept). Returns no error in the daemon process, which goes on; the calling process waits without
// returning until the daemon calls ConfirmDaemonStart, and then ends with the exit status given
// there (1 if the daemon ended without a word). If detaching fails, returns the system's error in
// the calling process, which is still attached and goes on. Call it before any thread is created:
// only the calling thread survives.
// On Windows it registers the process as a Windows 95 service process instead and returns
// PlatformError::kNoServiceProcessModule or kNoServiceProcessEntry when the system lacks that
// registration (its module KERNEL32 or its entry point is missing), the system's error
// ERROR_ACCESS_DENIED when the registration is refused.
std::error_code DetachAsDaemon();

// In a detached daemon: tells the waiting original process that the start is over and with
// which exit status it ends (0: the daemon runs). Only the first call counts; does nothing where
// no process waits (Windows, or no DetachAsDaemon before).
void ConfirmDaemonStart(int exit_status);

}  // namespace chron::platform
