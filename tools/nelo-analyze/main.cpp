// nelo-analyze: what Nelo's Parse and HOMO-LUMO commands produce, and how
// jobs ended, for many Firefly output files at once and for scripts. Output
// bytes are written as they stand in the files (single-byte text); JSON
// strings hold them as Latin-1.
//
// The progress command runs on ProgressScanner alone and does not load Qt,
// whose libraries take longer to load than a scan of 10 MB; the other
// commands, and progress for a file it leaves to them, run in a module that
// links Qt and is loaded when needed (Commands.h).

#include "Commands.h"
#include "Output.h"

#include "analysis/ProgressScanner.h"

#include <NeloVersion.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Usage[] =
    "Usage: nelo-analyze COMMAND FILE...\n"
    "       nelo-analyze COMMAND --json FILE...\n"
    "       nelo-analyze continue OUTPUT [INPUT]\n"
    "       nelo-analyze --help | --version\n"
    "\n"
    "Reads finished Firefly output files as Nelo does.\n"
    "\n"
    "Commands:\n"
    "  progress FILE...   the geometry-search progress entries that Parse shows,\n"
    "                     one entry a line; one scan state runs through all files\n"
    "                     in order, as in one Nelo session. Inside an entry a\n"
    "                     backslash is written \\\\, CR \\r and LF \\n.\n"
    "  homo-lumo FILE...  one HOMO-LUMO table line per file: name, HOMO, LUMO and\n"
    "                     gap in eV, total energy in kcal/mol, separated by tabs.\n"
    "  outcome FILE...    how each job ended, one line per file: the file, a\n"
    "                     keyword and the reason (the output's own line where it\n"
    "                     has one), separated by tabs; in the reason a backslash\n"
    "                     is written \\\\ and a tab \\t. The keywords: normal,\n"
    "                     converged (geometry located), not-converged (too many\n"
    "                     steps, or the output ends inside the geometry search),\n"
    "                     scf-failed, abnormal (Firefly's abnormal end, with its\n"
    "                     error text), killed (no termination line), no-output.\n"
    "                     Only the end of each output is read, as far back as\n"
    "                     needed.\n"
    "  continue OUTPUT [INPUT]\n"
    "                     the input that goes on with a geometry optimisation\n"
    "                     from the last geometry of its output: INPUT (else the\n"
    "                     input cards the output echoes) with the coordinates of\n"
    "                     its $DATA atoms replaced by the newest complete\n"
    "                     \"COORDINATES OF SYMMETRY UNIQUE ATOMS (ANGS)\" block\n"
    "                     (UNITS=BOHR then reads UNITS=ANGS), written to standard\n"
    "                     output; why not, on standard error, with exit status 1.\n"
    "\n"
    "  --json             one JSON object a line per file instead, for pipelines:\n"
    "                     {\"file\", \"entries\": [...]} (progress);\n"
    "                     {\"file\", \"name\", \"homo_ev\", \"lumo_ev\", \"gap_ev\",\n"
    "                     \"total_energy_kcal_mol\"} (homo-lumo);\n"
    "                     {\"file\", \"outcome\", \"text\", \"reason\"} (outcome);\n"
    "                     {\"file\", \"error\"} for a file that fails.\n"
    "\n"
    "A file that fails is reported on standard error as \"FILE: message\" and the\n"
    "next file is still read. Exit status: 0 when every file was read (outcome:\n"
    "and every job ended normally or converged), 1 otherwise, 2 for a usage\n"
    "error.\n"
    "\n"
    "Options:\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

// The module with the commands that need Qt: beside the program in the build
// tree, in NELO_ANALYZE_MODULE_DIR (relative to the program's folder) once
// installed.
std::string commandsModule()
{
    std::string folder(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", folder.data(), folder.size());
    folder.resize(length > 0 ? std::size_t(length) : 0);
    folder.resize(folder.rfind('/') + 1);
    for (const std::string &path : {folder + NELO_ANALYZE_MODULE, folder + NELO_ANALYZE_MODULE_DIR "/" NELO_ANALYZE_MODULE}) {
        if (::access(path.c_str(), R_OK) == 0)
            return path;
    }
    return NELO_ANALYZE_MODULE; // where dlopen searches, and says why it fails
}

// Runs the command through the module (Commands.h).
int runCommands(const char *command, bool json, int fileCount, char **files, const ProgressState *state)
{
    void *const module = ::dlopen(commandsModule().c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto run = module ? reinterpret_cast<decltype(&NeloAnalyzeCommands)>(::dlsym(module, "NeloAnalyzeCommands"))
                            : nullptr;
    if (!run) {
        std::fprintf(stderr, "nelo-analyze: %s\n", ::dlerror());
        return 1;
    }
    return run(command, json, fileCount, files, state);
}

// Names that ProgressScanner opens as Qt would: not empty, ASCII (Qt reads
// names as UTF-8 and turns bytes that are not into other characters), not
// beginning with ':' (which Qt looks up among its resources).
bool plainName(std::string_view name)
{
    if (name.empty() || name.front() == ':')
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The progress entries of one file, by ProgressScanner alone. False, with no
// entry written and the scanner as it was, for a file it leaves to the
// module: one whose name is not plain, that cannot be opened or read, or a
// folder; the module then says exactly what Qt says of it.
bool progressOfFile(ProgressScanner &scanner, const char *name, Output &out)
{
    if (!plainName(name))
        return false;
    const int file = ::open(name, O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    struct stat status;
    bool done = ::fstat(file, &status) == 0 && !S_ISDIR(status.st_mode);
    if (done) {
        const auto read = [file](char *into, std::size_t bytes) {
            ssize_t n;
            do
                n = ::read(file, into, bytes);
            while (n < 0 && errno == EINTR);
            return std::ptrdiff_t(n);
        };
        const std::size_t size = S_ISREG(status.st_mode) ? std::size_t(status.st_size) : 0;
        try {
            done = scanner.ScanFile(read, size, [&out](std::string_view entry) { out.appendEscaped(entry); });
        } catch (const std::bad_alloc &) {
            done = false; // reported by the module, as for any file
        }
    }
    ::close(file);
    return done;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("nelo-analyze " NELO_VERSION "\n", stdout);
        return 0;
    }
    const char *command = argc >= 2 ? argv[1] : "";
    const bool json = argc >= 3 && std::strcmp(argv[2], "--json") == 0;
    const int first = json ? 3 : 2;
    const bool progress = std::strcmp(command, "progress") == 0;
    if (std::strcmp(command, "continue") == 0) {
        if (argc != 3 && argc != 4) {
            std::fputs(Usage, stderr);
            return 2;
        }
        return runCommands(command, false, argc - 2, argv + 2, nullptr);
    }
    if (argc <= first || !(progress || std::strcmp(command, "homo-lumo") == 0 || std::strcmp(command, "outcome") == 0)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    // A pipe that holds more blocks before the reader has to take its turn.
#ifdef F_SETPIPE_SZ
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1024 * 1024); // fails harmlessly on anything but a pipe
#endif
    if (!progress || json)
        return runCommands(command, json, argc - first, argv + first, nullptr);

    ProgressScanner scanner;
    Output out;
    for (int i = first; i < argc; ++i) {
        if (!progressOfFile(scanner, argv[i], out)) {
            out.flush();
            const std::string &logLine = scanner.LogLine(), &stepPrefix = scanner.StepPrefix();
            const ProgressState state{logLine.data(), logLine.size(), stepPrefix.data(), stepPrefix.size()};
            return runCommands(command, json, argc - i, argv + i, &state);
        }
    }
    return 0;
}
