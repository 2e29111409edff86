// nelo-argv-recorder: a stand-in program for tests of process starts.
//
// Writes its working directory and every element of argv (argv[0] included),
// each followed by a NUL byte, to the file named by the environment variable
// NELO_ARGV_RECORD, then exits with 0. The record is written to a temporary
// file first and renamed into place, so a test that waits for the file never
// sees half a record. Read it back with tests/helpers/ArgvRecord.h.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *recordPath = std::getenv("NELO_ARGV_RECORD");
    if (!recordPath || !*recordPath)
        return 2;

    std::string record;
    if (char *cwd = getcwd(nullptr, 0)) {
        record += cwd;
        std::free(cwd);
    }
    record += '\0';
    for (int i = 0; i < argc; ++i) {
        record += argv[i];
        record += '\0';
    }

    const std::string partial = std::string(recordPath) + ".partial";
    std::FILE *out = std::fopen(partial.c_str(), "wb");
    if (!out)
        return 3;
    const bool written = std::fwrite(record.data(), 1, record.size(), out) == record.size();
    if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), recordPath) != 0)
        return 3;
    return 0;
}
