#include "TraceCapture.h"

TraceCapture::TraceCapture() {
    setTraceSink([this](TraceStream stream, const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            (stream == TraceStream::Out ? out_ : err_) += text;
        }
        cond_.notify_all();
    });
}

TraceCapture::~TraceCapture() {
    setTraceSink(nullptr);
}

std::string TraceCapture::out() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string TraceCapture::err() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

bool TraceCapture::waitFor(const std::string& needle, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] { return out_.find(needle) != std::string::npos; });
}

int TraceCapture::count(const std::string& needle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (size_t pos = out_.find(needle); pos != std::string::npos;
         pos = out_.find(needle, pos + needle.size()))
        ++n;
    return n;
}

void TraceCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    out_.clear();
    err_.clear();
}
