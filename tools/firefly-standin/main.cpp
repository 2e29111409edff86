// firefly-standin: honours Firefly's command-line contract and writes a
// Firefly-style output transcript progressively, for tests and for trying
// Nelo without Firefly. See README.md and --help.

#include "Helpers.h"
#include "Options.h"
#include "OutputSink.h"
#include "Transcript.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <unistd.h>

namespace {

// Files named by controls are written whole, so a test never reads half of one.
bool WriteWhole(const std::string &path, const std::string &text)
{
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out)
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string Escaped(const char *text)
{
    std::string out;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '\\')
            out += "\\\\";
        else if (*c == '\n')
            out += "\\n";
        else
            out += *c;
    }
    return out;
}

void Record(const std::string &path, int argc, char **argv)
{
    char cwd[PATH_MAX] = "";
    if (getcwd(cwd, sizeof cwd) == nullptr)
        std::strcpy(cwd, "?");
    std::string text = "cwd " + Escaped(cwd) + "\n";
    for (int i = 0; i < argc; ++i)
        text += "arg " + Escaped(argv[i]) + "\n";
    if (!WriteWhole(path, text))
        std::fprintf(stderr, "firefly-standin: cannot write %s\n", path.c_str());
}

// Copies a transcript file to the output in pieces, as a running Firefly would.
int Replay(const Options &options, OutputSink &out)
{
    std::ifstream in(options.replayFile, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "firefly-standin: cannot read %s\n", options.replayFile.c_str());
        return 66;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (options.noFinalNewline)
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
    const size_t chunk = size_t(options.replayChunk > 0 ? options.replayChunk : 4096);
    for (size_t at = 0; at < text.size(); at += chunk) {
        if (at > 0)
            out.sleepMs(double(options.replayInterval) * options.pace);
        out.raw(std::string_view(text).substr(at, chunk));
    }
    return 0;
}

// With -p, Firefly writes its other text files into the output's folder:
// the PUNCH file there is named after the output, ".dat" for its extension.
void Punch(const Options &options)
{
    const std::string &output = options.output;
    const size_t slash = output.rfind('/');
    const size_t dot = output.rfind('.');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)
                                 ? output.substr(0, dot)
                                 : output;
    std::ifstream in(options.input, std::ios::binary);
    std::string title;
    std::getline(in, title);
    const std::string text = " $DATA\n" + title + "\n $END\n --- PUNCH OF firefly-standin FOR " + options.input + "\n";
    std::ofstream out(stem + ".dat", std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 64;
    }
    if (options.help) {
        std::fputs(HelpText(), stdout);
        return 0;
    }
    if (!options.recordFile.empty())
        Record(options.recordFile, argc, argv);
    if (options.output.empty()) {
        std::fprintf(stderr, "firefly-standin: no output file (-o) on the command line\n");
        return options.exitStatus >= 0 ? options.exitStatus : 2;
    }

    Helpers helpers;
    helpers.start(options.cores - 1);
    if (!options.pidFile.empty()) {
        std::string text = "main " + std::to_string(getpid()) + "\n";
        for (pid_t pid : helpers.pids())
            text += "helper " + std::to_string(pid) + "\n";
        if (!WriteWhole(options.pidFile, text))
            std::fprintf(stderr, "firefly-standin: cannot write %s\n", options.pidFile.c_str());
    }

    int status = 0;
    {
        OutputSink out(options);
        if (!out.open(options.output)) {
            std::fprintf(stderr, "firefly-standin: cannot create %s: %s\n", options.output.c_str(),
                         std::strerror(errno));
            status = 3;
        } else {
            status = options.replayFile.empty() ? WriteTranscript(options, out) : Replay(options, out);
        }
    }
    helpers.stop();
    if (options.popt && status == 0 && options.replayFile.empty() && !options.noOutput)
        Punch(options);
    return options.exitStatus >= 0 ? options.exitStatus : status;
}
