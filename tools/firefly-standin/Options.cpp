#include "Options.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

enum class Kind { Flag, Number, Integer, Text, Signal };

struct Control
{
    const char *name;  // --standin-NAME=VALUE, FIREFLY_STANDIN_NAME (upper case, '-' as '_')
    Kind kind;
    void *target;
};

bool ParseDouble(const std::string &text, double &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0))
        return false;
    value = v;
    return true;
}

bool ParseLong(const std::string &text, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    value = v;
    return true;
}

bool ParseSignal(const std::string &text, int &value)
{
    static const struct { const char *name; int number; } names[] = {
        {"KILL", SIGKILL}, {"SEGV", SIGSEGV}, {"TERM", SIGTERM}, {"ABRT", SIGABRT},
        {"BUS", SIGBUS}, {"FPE", SIGFPE}, {"INT", SIGINT}, {"HUP", SIGHUP},
    };
    std::string_view name = text;
    if (name.substr(0, 3) == "SIG")
        name.remove_prefix(3);
    for (const auto &n : names)
        if (name == n.name) {
            value = n.number;
            return true;
        }
    long number = 0;
    if (!ParseLong(text, number) || number < 1 || number > 64)
        return false;
    value = int(number);
    return true;
}

bool Assign(const Control &control, const std::string &value, std::string &error)
{
    bool ok = true;
    switch (control.kind) {
    case Kind::Flag:
        // "--standin-no-output" alone sets it; "=0" clears it.
        *static_cast<bool *>(control.target) = value != "0";
        break;
    case Kind::Number:
        ok = ParseDouble(value, *static_cast<double *>(control.target));
        break;
    case Kind::Integer: {
        long v = 0;
        ok = ParseLong(value, v);
        if (ok && control.target != nullptr)
            *static_cast<long *>(control.target) = v;
        break;
    }
    case Kind::Text:
        *static_cast<std::string *>(control.target) = value;
        break;
    case Kind::Signal:
        ok = ParseSignal(value, *static_cast<int *>(control.target));
        break;
    }
    if (!ok)
        error = std::string("firefly-standin: bad value \"") + value + "\" for " + control.name;
    return ok;
}

std::string EnvName(const char *name)
{
    std::string env = "FIREFLY_STANDIN_";
    for (const char *c = name; *c != '\0'; ++c)
        env += (*c == '-') ? '_' : char(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c);
    return env;
}

} // namespace

bool ParseOptions(int argc, char **argv, Options &o, std::string &error)
{
    long exitStatus = o.exitStatus;
    const Control controls[] = {
        {"pace", Kind::Number, &o.pace},
        {"replay", Kind::Text, &o.replayFile},
        {"replay-chunk", Kind::Integer, &o.replayChunk},
        {"replay-interval", Kind::Integer, &o.replayInterval},
        {"crash-after", Kind::Integer, &o.crashAfter},
        {"crash-signal", Kind::Signal, &o.crashSignal},
        {"no-output", Kind::Flag, &o.noOutput},
        {"no-final-newline", Kind::Flag, &o.noFinalNewline},
        {"burst", Kind::Number, &o.burstMiB},
        {"burst-rate", Kind::Number, &o.burstRate},
        {"exit", Kind::Integer, &exitStatus},
        {"record", Kind::Text, &o.recordFile},
        {"pids", Kind::Text, &o.pidFile},
        {"summary", Kind::Text, &o.summaryFile},
    };

    // An empty variable counts as unset.
    for (const Control &control : controls)
        if (const char *value = std::getenv(EnvName(control.name).c_str()); value != nullptr && *value != '\0')
            if (!Assign(control, value, error))
                return false;

    // Firefly's options. A value that is missing at the end of the line
    // leaves the option unset; words Firefly does not know are skipped.
    bool afterCores = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--help" || word == "-help") {
            o.help = true;
        } else if (word.substr(0, 10) == "--standin-") {
            const std::string_view rest = word.substr(10);
            const size_t eq = rest.find('=');
            const std::string_view name = rest.substr(0, eq);
            const Control *found = nullptr;
            for (const Control &control : controls)
                if (name == control.name)
                    found = &control;
            if (found == nullptr) {
                error = "firefly-standin: unknown control " + std::string(word) + " (see --help)";
                return false;
            }
            const bool bare = eq == std::string_view::npos;
            if (bare && found->kind != Kind::Flag) {
                error = "firefly-standin: " + std::string(word) + " needs a value";
                return false;
            }
            if (!Assign(*found, bare ? std::string() : std::string(rest.substr(eq + 1)), error))
                return false;
        } else if (word == "-i" && hasValue) {
            o.input = argv[++i];
        } else if (word == "-o" && hasValue) {
            o.output = argv[++i];
        } else if (word == "-b" && hasValue) {
            o.library = argv[++i];
        } else if (word == "-f") {
            o.fopt = true;
        } else if (word == "-r") {
            o.ropt = true;
        } else if (word == "-p") {
            o.popt = true;
        } else if (word == "-np" && hasValue) {
            long cores = 1;
            // Firefly takes a count it cannot read as one process.
            if (ParseLong(argv[++i], cores) && cores >= 1)
                o.cores = int(cores < 64 ? cores : 64);
            afterCores = true;
        } else if (word == "-t" && hasValue) {
            o.tempDir = argv[++i];
        } else if (afterCores && !word.empty() && word[0] != '-') {
            o.workDirs.emplace_back(word);
        }
    }
    o.exitStatus = int(exitStatus);
    return true;
}

const char *HelpText()
{
    return R"(firefly-standin: a stand-in for the Firefly quantum-chemistry program.
It computes nothing: it reads a Firefly input file and writes a Firefly-style
output transcript for it, progressively and with CR LF line ends, so that a
front end can be run, watched and tested without Firefly.

Usage (Firefly's command line, each item a separate argument):
  firefly-standin -i INPUT -o OUTPUT -b LIBRARY [-f] [-r] [-p] [free words...]
                  -np N (-t DIR/ | WORKDIR...)
Words it does not know are ignored. With -np N above 1 it starts N-1 helper
processes in its own process group; they end when it ends normally.
Exit status: 0 after a normal run, 1 when the input is faulty (the output then
ends with Firefly-style error lines, the last one without a line break),
2 when the command line has no -o, 3 when the output file cannot be created,
64 when a test control is not understood.

Test controls: a word --standin-NAME=VALUE, or the environment variable
FIREFLY_STANDIN_NAME (upper case, '-' as '_'); the word wins.
  --standin-pace=F            scale every pause by F (default 1: an optimisation
                              takes 5-10 s, a single point a few s; 0 = no pauses)
  --standin-replay=FILE       write FILE's bytes to the output instead of a transcript
  --standin-replay-chunk=N    ... N bytes per write (default 4096)
  --standin-replay-interval=MS ... MS milliseconds between writes (default 50,
                              scaled by the pace)
  --standin-crash-after=K     after K complete lines, kill itself with a signal
  --standin-crash-signal=SIG  that signal (KILL, SEGV, TERM, ... or a number; default KILL)
  --standin-no-output         never create the output file (still runs, exits 0)
  --standin-no-final-newline  end the output's last line without CR LF
  --standin-burst=MIB         write MIB MiB of integral records at once, early in the run
  --standin-burst-rate=R      write the burst at R MiB/s (default 0 = full speed)
  --standin-exit=N            exit with status N instead of the natural one
  --standin-record=FILE       write the working directory and every argument to FILE:
                              "cwd <dir>", then "arg <argument>" per argument
                              (backslash and line feed escaped as \\ and \n)
  --standin-pids=FILE         write "main <pid>", then "helper <pid>" per helper, to FILE
  --standin-summary=FILE      write the values the transcript reports (electrons,
                              occupied orbitals, basis functions, HOMO, LUMO, total
                              energy, steps) as "key value" lines to FILE
  --help                      this text
Files named by controls are written whole (a temporary file renamed into place).
)";
}
