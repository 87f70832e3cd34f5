// The live progress line of a command on standard error, only when standard
// error is a terminal: redrawn in place ("\r"), and cleared before any other
// line is printed and at the end. In a pipe or a file nothing of it appears.
#pragma once

#include "site/ReaddressFlow.h"
#include "site/SearchFlow.h"

#include <iostream>
#include <ostream>
#include <streambuf>
#include <string>

namespace lynx::cli {

class LiveLine {
public:
    // Drawn on standard error when it is a terminal, else never.
    LiveLine();
    ~LiveLine() { Clear(); }
    LiveLine(const LiveLine&) = delete;
    LiveLine& operator=(const LiveLine&) = delete;

    bool Enabled() const { return m_enabled; }
    // Redraws the line with text (nothing when it is shown already).
    void Show(const std::string& text);
    // Takes the line away, when one is shown.
    void Clear();

    // The progress of each flow, in the selected language.
    void Search(const site::SearchProgress& progress);
    void Readdress(const site::ReaddressProgress& progress);
    // The jobs done, and the downloads in flight with their mean percentage
    // (told only while there are any).
    void Upgrade(int done, int total, int failed, int downloading = 0, int meanPercent = 0);

    // Standard output and standard error, the line cleared before anything
    // they print (the streams themselves when the line is never drawn).
    std::ostream& Out() { return m_enabled ? m_out : std::cout; }
    std::ostream& Err() { return m_enabled ? m_err : std::cerr; }
    // Passes on a write failure of Out() to std::cout, where the end of the
    // program looks for it.
    void Finish();

private:
    // Forwards to another stream's buffer, clearing the line first.
    class ClearingBuffer : public std::streambuf {
    public:
        ClearingBuffer(LiveLine& line, std::streambuf* target) : m_line(line), m_target(target) {}

    protected:
        int overflow(int c) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int sync() override { return m_target->pubsync(); }

    private:
        LiveLine& m_line;
        std::streambuf* m_target;
    };

    bool m_enabled;
    bool m_shown = false;
    std::string m_text;
    ClearingBuffer m_outBuffer;
    ClearingBuffer m_errBuffer;
    std::ostream m_out;
    std::ostream m_err;
};

// A command on the standard streams with the real transport and the live
// line: run(line) gives the exit status.
template <class Run>
int OnTerminal(Run run)
{
    LiveLine live;
    const int status = run(live);
    live.Finish();
    return status;
}

// A flow's progress events drawn on line; none without a line.
site::SearchProgressFn SearchEvents(LiveLine* line);
site::ReaddressEvents ReaddressEvents(LiveLine* line);

} // namespace lynx::cli
