// Captures what the library writes to std::cout and std::cerr by swapping
// their stream buffers. The buffers are locked, so the library's threads may
// write while the test reads; swap only while none of them runs.
#pragma once

#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>

#include "FakeGate.h"

class LockedTextBuf : public std::streambuf {
public:
    explicit LockedTextBuf(bool keep) : keep_(keep) {}
    std::string text() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    size_t written() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }
    // Writes that did not end a line: a line written in pieces lets another
    // writer's text land in the middle of it.
    size_t unendedWrites() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return unended_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.clear();
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (keep_) text_.append(s, static_cast<size_t>(n));
        written_ += static_cast<size_t>(n);
        if (n > 0 && s[n - 1] != '\n') ++unended_;
        return n;
    }

private:
    mutable std::mutex mutex_;
    bool keep_;
    std::string text_;
    size_t written_ = 0;
    size_t unended_ = 0;
};

class ConsoleCapture {
public:
    // keep = false only counts the characters (for runs with megabytes of traces).
    explicit ConsoleCapture(bool keep = true) : out_(keep), err_(keep) {
        oldOut_ = std::cout.rdbuf(&out_);
        oldErr_ = std::cerr.rdbuf(&err_);
    }
    ~ConsoleCapture() {
        std::cout.rdbuf(oldOut_);
        std::cerr.rdbuf(oldErr_);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string out() const { return out_.text(); }
    std::string err() const { return err_.text(); }
    size_t outWritten() const { return out_.written(); }
    size_t unendedWrites() const { return out_.unendedWrites() + err_.unendedWrites(); }
    void clear() {
        out_.clear();
        err_.clear();
    }
    bool waitOut(const std::string& needle, int timeoutMs = kWaitMs) const {
        return waitUntil([&] { return out().find(needle) != std::string::npos; }, timeoutMs);
    }
    int countOut(const std::string& needle) const {
        const std::string text = out();
        int n = 0;
        for (size_t at = text.find(needle); at != std::string::npos;
             at = text.find(needle, at + needle.size()))
            ++n;
        return n;
    }

private:
    LockedTextBuf out_;
    LockedTextBuf err_;
    std::streambuf* oldOut_;
    std::streambuf* oldErr_;
};
