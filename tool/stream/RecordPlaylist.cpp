#include "stream/RecordPlaylist.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

RecordPlaylist::~RecordPlaylist() {
    closeFd();
}

void RecordPlaylist::closeFd() const {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

RecordPlaylist::Refusal RecordPlaylist::open(const std::string& path) {
    closeFd();
    m_files.clear();
    m_records.clear();
    m_skipped.clear();
    m_refusedPath = path;

    std::error_code ec;
    const bool folder = fs::is_directory(path, ec);
    std::vector<std::string> paths;
    if (folder) {
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec)) paths.push_back(it->path().string());
        if (ec) return Refusal::Unreadable;
        std::sort(paths.begin(), paths.end());
    } else {
        paths.push_back(path);
    }

    for (const std::string& file : paths) {
        RecordFileIndex index;
        std::vector<RecordLocation> records;
        const RecordScan scan = scanRecordFile(
            file, index, [&records](const RecordLocation& at) { records.push_back(at); });
        if (scan == RecordScan::Ok) {
            addFile(file, index, records);
        } else if (!folder) {
            return scan == RecordScan::BadHeader ? Refusal::NotRecordFile : Refusal::Unreadable;
        } else {
            m_skipped.push_back(file);
        }
    }
    if (m_files.empty()) return Refusal::NoRecordFiles;
    if (m_records.empty()) return Refusal::NoRecords;
    m_refusedPath.clear();
    return Refusal::None;
}

void RecordPlaylist::addFile(const std::string& path, const RecordFileIndex& index,
                             const std::vector<RecordLocation>& records) {
    m_files.push_back(File{path, index, m_records.size()});
    m_records.reserve(m_records.size() + records.size());
    for (const RecordLocation& at : records) m_records.push_back(Entry{at, m_files.size() - 1});
}

uint64_t RecordPlaylist::tornBytes() const {
    uint64_t torn = 0;
    for (const File& f : m_files) torn += f.index.tornBytes();
    return torn;
}

bool RecordPlaylist::read(size_t record, std::vector<uint8_t>& data) const {
    if (record >= m_records.size()) return false;
    // The length was checked against the file's size when it was opened.
    data.resize(m_records[record].where.length);
    if (readData(m_records[record], reinterpret_cast<char*>(data.data()), data.size())) return true;
    data.clear();
    return false;
}

bool RecordPlaylist::read(size_t record, std::string& data, size_t maxBytes) const {
    data.clear();
    if (record >= m_records.size()) return false;
    data.resize(static_cast<size_t>(std::min<uint64_t>(m_records[record].where.length, maxBytes)));
    if (readData(m_records[record], &data[0], data.size())) return true;
    data.clear();
    return false;
}

bool RecordPlaylist::readData(const Entry& entry, char* to, size_t count) const {
    if (m_fd < 0 || m_fdFile != entry.file) {
        closeFd();
        m_fd = ::open(m_files[entry.file].path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) return false;
        m_fdFile = entry.file;
    }
    uint64_t offset = entry.where.offset + kRecordHeaderSize;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd, to + done, count - done, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // an error, or the file shrank since it was opened
        done += static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}
