#pragma once

#include <utility>

// The general error report for an error raised while a handler runs: the
// handler ends, the user sees the error's text (with its full stop, see
// ErrorReportText) in an error box, and the program goes on.
//
// Call inside a catch block: NeloError gives its message, any other
// std::exception its what(), anything else a generic text.
void ReportCurrentException();

// Runs a handler and reports whatever it throws, so no exception ever
// travels through the toolkit's event dispatch.
template <class Handler>
void RunReported(Handler &&handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        ReportCurrentException();
    }
}
