#include "cli/DeviceLines.h"

#include "cli/TextEscape.h"

namespace {
thread_local std::string t_device;
thread_local std::string t_pending;  // this thread's text up to its next line end
}  // namespace

void setThreadDevice(const std::string& device) {
    t_device = device;
}

const std::string& threadDevice() {
    return t_device;
}

std::string deviceLine(const std::string& text) {
    std::string line = text;
    const bool ended = !line.empty() && line.back() == '\n';
    if (ended) line.pop_back();
    return "[" + t_device + "] " + terminalText(line) + (ended ? "\n" : "");
}

DeviceLineBuffer::int_type DeviceLineBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
}

std::streamsize DeviceLineBuffer::xsputn(const char* text, std::streamsize count) {
    t_pending.append(text, static_cast<size_t>(count));
    for (size_t end; (end = t_pending.find('\n')) != std::string::npos;) {
        // One write a line: stdio keeps it whole against other threads' writes.
        const std::string line = deviceLine(t_pending.substr(0, end + 1));
        std::fwrite(line.data(), 1, line.size(), m_out);
        std::fflush(m_out);
        t_pending.erase(0, end + 1);
    }
    return count;
}
