// Progress of the long steps on stderr, where it never mixes with the lines scripts read from
// stdout. A terminal gets one line rewritten in place; anything else gets plain key=value lines,
// few enough for a build log.

#include "tools/yayin/yayin.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace {

const int64_t kTerminalInterval = 250; // milliseconds between redraws of the terminal line
const int64_t kLineInterval = 5000;    // and between plain progress lines

// Whether the terminal's cursor stands at the end of a progress line: a message must then start
// on a line of its own.
bool terminal_line_open = false;

int64_t NowMilliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char *format, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// The unit that `bytes` reads best in: its divisor and its name.
uint64_t SizeUnit(uint64_t bytes, const char **name)
{
    static const char *const names[] = {"bayt", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (unit < 3 && bytes >= (1024ull << (10 * unit)))
        unit++;
    *name = names[unit];
    return 1ull << (10 * unit);
}

// `bytes` in `divisor` units with one decimal after a comma, as Turkish writes it; whole bytes
// without one.
std::string Amount(uint64_t bytes, uint64_t divisor)
{
    if (divisor == 1)
        return Format("%" PRIu64, bytes);
    uint64_t tenths = (bytes * 10 + divisor / 2) / divisor;
    return Format("%" PRIu64 ",%" PRIu64, tenths / 10, tenths % 10);
}

std::string Size(uint64_t bytes)
{
    const char *unit;
    uint64_t divisor = SizeUnit(bytes, &unit);
    return Amount(bytes, divisor) + " " + unit;
}

// "1:05" or "2:01:05".
std::string Duration(uint64_t seconds)
{
    if (seconds >= 3600)
        return Format("%" PRIu64 ":%02" PRIu64 ":%02" PRIu64, seconds / 3600, seconds / 60 % 60, seconds % 60);
    return Format("%" PRIu64 ":%02" PRIu64, seconds / 60, seconds % 60);
}

struct Pace {
    int64_t elapsed;     // milliseconds since the start
    uint64_t rate;       // bytes a second, 0 before any
    unsigned percent;    // of the bytes, or of the files when there are no bytes to count
    bool time_left_known;
    uint64_t time_left;  // seconds
};

Pace MeasurePace(const Progress &progress, int64_t now)
{
    Pace pace;
    pace.elapsed = now - progress.started;
    pace.rate = pace.elapsed > 0 ? progress.bytes * 1000 / (uint64_t)pace.elapsed : 0;
    uint64_t done = progress.total_bytes > 0 ? progress.bytes : progress.files;
    uint64_t total = progress.total_bytes > 0 ? progress.total_bytes : progress.total_files;
    // A file that grew after it was measured must not take the count past the whole.
    pace.percent = total > 0 && done < total ? (unsigned)(done * 100 / total) : 100;
    uint64_t left = progress.total_bytes > progress.bytes ? progress.total_bytes - progress.bytes : 0;
    pace.time_left_known = left == 0 || pace.rate > 0;
    pace.time_left = pace.rate > 0 ? (left + pace.rate - 1) / pace.rate : 0;
    return pace;
}

// The line's fixed fields: the step, the files and the bytes.
std::string PlainLine(const Progress &progress, const char *state)
{
    return Format("talvor-yayin: adim=%s durum=%s dosya=%" PRIu64 "/%" PRIu64 " bayt=%" PRIu64 "/%" PRIu64,
                  progress.step->name, state, progress.files, progress.total_files, progress.bytes,
                  progress.total_bytes);
}

void PrintPlainProgress(const Progress &progress, int64_t now)
{
    Pace pace = MeasurePace(progress, now);
    std::string line = PlainLine(progress, "suruyor") + Format(" yuzde=%u hiz=%" PRIu64, pace.percent, pace.rate);
    line += pace.time_left_known ? Format(" kalan=%" PRIu64, pace.time_left) : " kalan=?";
    fprintf(stderr, "%s\n", line.c_str());
}

// `text` cut to fit `columns` columns; every character of ours takes one column.
std::string FitColumns(const std::string &text, int columns)
{
    int used = 0;
    for (size_t i = 0; i < text.size(); i++) {
        // A UTF-8 lead byte starts a character; continuation bytes add no column.
        if (((unsigned char)text[i] & 0xc0) != 0x80 && used++ == columns)
            return text.substr(0, i);
    }
    return text;
}

// Rewrites the terminal's line with `text`, cut to its width so that it never wraps onto a
// second line that a carriage return cannot reach.
void DrawTerminalLine(const std::string &text)
{
    struct winsize size;
    int columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    fprintf(stderr, "\r%s\033[K", FitColumns(text, columns).c_str());
    fflush(stderr);
    terminal_line_open = true;
}

void DrawTerminalProgress(const Progress &progress, int64_t now)
{
    Pace pace = MeasurePace(progress, now);
    const char *unit;
    uint64_t divisor = SizeUnit(progress.total_bytes, &unit);
    std::string text = Format("%s: %" PRIu64 "/%" PRIu64 " dosya, ", progress.step->running, progress.files,
                              progress.total_files) +
                       Amount(progress.bytes, divisor) + "/" + Amount(progress.total_bytes, divisor) + " " + unit +
                       Format(", %%%u", pace.percent);
    if (pace.rate > 0)
        text += ", " + Size(pace.rate) + "/sn";
    text += pace.time_left_known ? ", kalan " + Duration(pace.time_left) : ", kalan ?";
    DrawTerminalLine(text);
}

} // namespace

ProgressMode ChooseProgressMode(bool quiet)
{
    if (quiet)
        return ProgressQuiet;
    return isatty(STDERR_FILENO) ? ProgressTerminal : ProgressLines;
}

Progress StartProgress(ProgressMode mode, const ProgressStep &step, uint64_t total_files, uint64_t total_bytes)
{
    Progress progress = {mode, &step, total_files, total_bytes, 0, 0, NowMilliseconds(), 0};
    if (mode == ProgressLines) {
        fprintf(stderr, "%s\n", PlainLine(progress, "basladi").c_str());
        progress.next_report = progress.started + kLineInterval;
    } else if (mode == ProgressTerminal) {
        DrawTerminalProgress(progress, progress.started);
        progress.next_report = progress.started + kTerminalInterval;
    }
    return progress;
}

void AdvanceProgress(Progress *progress, uint64_t files, uint64_t bytes)
{
    progress->files += files;
    progress->bytes += bytes;
    if (progress->mode == ProgressQuiet)
        return;
    int64_t now = NowMilliseconds();
    if (now < progress->next_report)
        return;
    if (progress->mode == ProgressLines) {
        PrintPlainProgress(*progress, now);
        progress->next_report = now + kLineInterval;
    } else {
        DrawTerminalProgress(*progress, now);
        progress->next_report = now + kTerminalInterval;
    }
}

void FinishProgress(const Progress &progress)
{
    int64_t now = NowMilliseconds();
    Pace pace = MeasurePace(progress, now);
    uint64_t seconds = (uint64_t)(pace.elapsed + 500) / 1000;
    if (progress.mode == ProgressLines) {
        fprintf(stderr, "%s sure=%" PRIu64 "\n", PlainLine(progress, "bitti").c_str(), seconds);
    } else if (progress.mode == ProgressTerminal) {
        std::string text = Format("%s: %" PRIu64 " dosya, ", progress.step->finished, progress.files) +
                           Size(progress.bytes) + ", " + Duration(seconds);
        if (pace.rate > 0)
            text += " (" + Size(pace.rate) + "/sn)";
        DrawTerminalLine(text);
        EndProgressLine();
    }
}

void EndProgressLine()
{
    if (terminal_line_open)
        fputc('\n', stderr);
    terminal_line_open = false;
}
