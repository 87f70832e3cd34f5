#include "cli/LiveLine.h"

#include "cli/TerminalText.h"
#include "platform/Translation.h"

#include <unistd.h>

#include <iostream>

namespace lynx::cli {

namespace {

// Back to the line's start, and the rest of the line erased.
constexpr const char* kErase = "\r\033[K";

} // namespace

LiveLine::LiveLine()
    : m_enabled(::isatty(STDERR_FILENO) == 1),
      m_outBuffer(*this, std::cout.rdbuf()),
      m_errBuffer(*this, std::cerr.rdbuf()),
      m_out(&m_outBuffer),
      m_err(&m_errBuffer)
{
}

void LiveLine::Show(const std::string& text)
{
    if (!m_enabled || (m_shown && text == m_text))
        return;
    // What standard output holds back goes out first, above the line.
    std::cout.flush();
    std::cerr << kErase << TerminalText(text) << std::flush;
    m_shown = true;
    m_text = text;
}

void LiveLine::Clear()
{
    if (!m_shown)
        return;
    m_shown = false;
    std::cerr << kErase << std::flush;
}

void LiveLine::Finish()
{
    Clear();
    if (m_enabled && !m_out.good())
        std::cout.setstate(std::ios::badbit);
}

void LiveLine::Search(const site::SearchProgress& progress)
{
    Show(platform::Tr("cameras found: %1, %2 s left")
             .arg(static_cast<qulonglong>(progress.found))
             .arg(progress.secondsLeft)
             .toStdString());
}

void LiveLine::Readdress(const site::ReaddressProgress& progress)
{
    Show(platform::Tr("answered at the new address: %1 of %2, %3 s left")
             .arg(static_cast<qulonglong>(progress.answered))
             .arg(static_cast<qulonglong>(progress.awaited))
             .arg(progress.secondsLeft)
             .toStdString());
}

void LiveLine::Upgrade(int done, int total, int failed, int downloading, int meanPercent)
{
    QString text = platform::Tr("upgrades done: %1 of %2, %3 failed").arg(done).arg(total).arg(failed);
    if (downloading > 0)
        text += platform::Tr("; downloading: %1, %2 % on average").arg(downloading).arg(meanPercent);
    Show(text.toStdString());
}

site::SearchProgressFn SearchEvents(LiveLine* line)
{
    if (!line)
        return {};
    return [line](const site::SearchProgress& progress) { line->Search(progress); };
}

site::ReaddressEvents ReaddressEvents(LiveLine* line)
{
    site::ReaddressEvents events;
    if (line)
        events.progress = [line](const site::ReaddressProgress& progress) { line->Readdress(progress); };
    return events;
}

int LiveLine::ClearingBuffer::overflow(int c)
{
    if (c == traits_type::eof())
        return traits_type::not_eof(c);
    m_line.Clear();
    return m_target->sputc(traits_type::to_char_type(c));
}

std::streamsize LiveLine::ClearingBuffer::xsputn(const char* s, std::streamsize n)
{
    m_line.Clear();
    return m_target->sputn(s, n);
}

} // namespace lynx::cli
