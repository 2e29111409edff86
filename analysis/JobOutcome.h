#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

// How a Firefly job ended, read from its output file and, where the runner
// saw it, from how its process ended.
//
// What is read: the output backwards from its end, one line at a time, and
// only as far back as the decision needs (in blocks: the last 16 KiB, then
// each block twice the one before, up to 1 MiB). The termination line ("EXECUTION
// OF FIREFLY TERMINATED NORMALLY", or "-ABNORMALLY-" with the error text
// Firefly writes just above it) is looked for among the lines of the last
// 64 KiB only; above it, the walk stops at the first line that tells how the
// calculation itself ended (nearest the end wins):
//   "EQUILIBRIUM GEOMETRY LOCATED" (or "SADDLE POINT LOCATED")   search converged
//   "FAILURE TO LOCATE STATIONARY POINT, TOO MANY STEPS TAKEN"    search not converged
//   "FAILURE TO LOCATE STATIONARY POINT, SCF HAS NOT CONVERGED",
//   "SCF IS UNCONVERGED, TOO MANY ITERATIONS"                     SCF not converged
//   "DENSITY CONVERGED", "ENERGY CONVERGED"                       the last SCF converged
//   a line of NSERCH, "PARAMETERS CONTROLLING GEOMETRY SEARCH"    inside a geometry search
// A normal single point thus costs the tail after its last SCF, an
// optimisation the part after its located geometry; the whole file is read
// only when none of these lines stands in it. The file's head is not read:
// nothing in it changes the decision. Lines end at LF (CR LF or LF); a line
// is matched by the text that follows its leading blanks and asterisks, as
// Firefly prints these lines; only the first 256 bytes of a line are looked
// at. One buffer per thread, at most 1 MiB whatever the file's size, serves
// every output read.
//
// Decision, first match wins:
//   Abort pressed during the job                       aborted
//   no output file, or an empty one                     killed when a signal ended the process, else no-output
//   no termination line, process ended by a signal
//   or with a status other than 0                       killed
//   last word: SCF not converged                        scf-failed
//   last word: too many steps                           not-converged
//   abnormal termination line                           abnormal
//   last word: inside a geometry search                 not-converged (the run ended within the search)
//   no termination line                                 killed (crashed: the output stops short)
//   last word: geometry located                         converged
//   normal termination line                             normal

// How the Firefly process of a finished job ended. Outputs added by hand,
// and nelo-analyze, know nothing of it: Unknown.
struct ProcessEnd
{
    enum class Kind { Unknown, Exited, Signalled, Aborted };
    Kind kind = Kind::Unknown;
    int code = 0; // the exit status (Exited) or the signal number (Signalled)
    // Where a scheduler ran the job: its name, by which the reason names it,
    // and its own word for how the job ended ("COMPLETED", "TIMEOUT",
    // "CANCELLED", "OUT_OF_MEMORY", "NODE_FAIL"). Both empty on this computer.
    QByteArray scheduler;
    QByteArray schedulerState;

    static ProcessEnd Exited(int status) { return {Kind::Exited, status, {}, {}}; }
    static ProcessEnd Signalled(int signal) { return {Kind::Signalled, signal, {}, {}}; }
    static ProcessEnd AbortedByUser() { return {Kind::Aborted, 0, {}, {}}; }
    bool operator==(const ProcessEnd &other) const
    {
        return kind == other.kind && code == other.code && scheduler == other.scheduler
            && schedulerState == other.schedulerState;
    }
};

enum class JobOutcome { Normal, Converged, NotConverged, ScfFailed, Abnormal, Aborted, Killed, NoOutput };

struct OutcomeReport
{
    JobOutcome outcome = JobOutcome::NoOutput;
    // One line of bytes saying why: the output's own line where it has one
    // (the termination line, the located or failure line, the error text
    // before an abnormal end joined with blanks, the last line before
    // Abort), blanks trimmed; otherwise a short text of ours ("signal 9
    // (SIGKILL)", "no output file").
    QByteArray reason;
};

// The stable keyword of a class, for scripts and files: "normal",
// "converged", "not-converged", "scf-failed", "abnormal", "aborted",
// "killed", "no-output".
std::string_view OutcomeKeyword(JobOutcome outcome);
// A short text for people ("SCF not converged").
QString OutcomeText(JobOutcome outcome);
// Ended normally or with a converged geometry search.
bool OutcomeSucceeded(JobOutcome outcome);

// Classifies the output file of a job. A missing file is no-output.
// Throws EFileError naming the file when it exists but cannot be read.
OutcomeReport ClassifyJobOutcome(const QString &outputFile, const ProcessEnd &end = {});
// The same for an output's bytes in memory (the file exists and holds them).
OutcomeReport ClassifyOutputText(std::string_view text, const ProcessEnd &end = {});
