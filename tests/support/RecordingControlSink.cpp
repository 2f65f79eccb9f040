#include "RecordingControlSink.h"

void RecordingControlSink::setControlText(int controlId, const std::string& text) {
    if (beforeText) beforeText(controlId, text);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_[controlId].push_back(text);
    }
    cond_.notify_all();
}

void RecordingControlSink::controlSize(int controlId, int& width, int& height) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sizes_.find(controlId);
    width = it == sizes_.end() ? width_ : it->second.first;
    height = it == sizes_.end() ? height_ : it->second.second;
}

void RecordingControlSink::showImage(int controlId, const cv::Mat& image) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++imageCounts_[controlId];
        lastImages_[controlId] = image.clone();
    }
    cond_.notify_all();
}

void RecordingControlSink::setSize(int controlId, int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    sizes_[controlId] = {width, height};
}

std::vector<std::string> RecordingControlSink::texts(int controlId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = texts_.find(controlId);
    return it == texts_.end() ? std::vector<std::string>() : it->second;
}

std::string RecordingControlSink::lastText(int controlId) const {
    const std::vector<std::string> all = texts(controlId);
    return all.empty() ? "<none>" : all.back();
}

size_t RecordingControlSink::textCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& entry : texts_) n += entry.second.size();
    return n;
}

int RecordingControlSink::imageCount(int controlId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = imageCounts_.find(controlId);
    return it == imageCounts_.end() ? 0 : it->second;
}

cv::Mat RecordingControlSink::lastImage(int controlId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = lastImages_.find(controlId);
    return it == lastImages_.end() ? cv::Mat() : it->second.clone();
}

bool RecordingControlSink::waitUntil(const std::function<bool()>& predicate, Ms timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, predicate);
}

bool RecordingControlSink::waitForTexts(int controlId, size_t n, Ms timeout) const {
    return waitUntil([&] { return texts_.count(controlId) && texts_.at(controlId).size() >= n; },
                     timeout);
}

bool RecordingControlSink::waitForImages(int controlId, int n, Ms timeout) const {
    return waitUntil(
        [&] { return imageCounts_.count(controlId) && imageCounts_.at(controlId) >= n; }, timeout);
}

bool RecordingControlSink::waitForTextContaining(int controlId, const std::string& needle,
                                                 Ms timeout) const {
    return waitUntil(
        [&] {
            if (!texts_.count(controlId)) return false;
            for (const std::string& t : texts_.at(controlId))
                if (t.find(needle) != std::string::npos) return true;
            return false;
        },
        timeout);
}

bool RecordingControlSink::waitForLastText(int controlId,
                                           const std::function<bool(const std::string&)>& predicate,
                                           Ms timeout) const {
    return waitUntil(
        [&] { return texts_.count(controlId) && predicate(texts_.at(controlId).back()); }, timeout);
}
