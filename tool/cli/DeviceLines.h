// kestctl works on many devices at once, each on its own thread (and a
// recording on a thread of its own): every trace line it shows names the
// device it is about.
#pragma once

#include <cstdio>
#include <streambuf>
#include <string>

// The device the calling thread works for; a thread started for a device
// sets it first thing.
void setThreadDevice(const std::string& device);
const std::string& threadDevice();

// "[device] text" for the calling thread's device, control characters
// escaped for the terminal.
std::string deviceLine(const std::string& text);

// A stream buffer for std::cout/std::cerr (the gate-linkage library writes
// its messages there): each thread's text is gathered up to its line end
// and written to out as one deviceLine, so lines of different threads never
// mix within a line.
class DeviceLineBuffer : public std::streambuf {
public:
    explicit DeviceLineBuffer(std::FILE* out) : m_out(out) {}

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

private:
    std::FILE* m_out;
};
