// The records of a recording, opened for playing back: one record file, or
// every record file of a folder in name order (the recorder names its files
// after the time they were opened, so name order is time order). Only the
// places of the records are kept (24 bytes each, 120 kB for a full 5001-record
// file of 2.3 GB); a record's data is read from its file when it is asked for.
//
// Used by the tool's player, by the simulator's replay and by kestctl's
// recording commands, so that all three see the same records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/RecordFileIndex.h"

class RecordPlaylist {
public:
    struct File {
        std::string path;
        RecordFileIndex index;
        size_t firstRecord = 0;  // number of its first record in the playlist
    };

    RecordPlaylist() = default;
    ~RecordPlaylist();
    RecordPlaylist(const RecordPlaylist&) = delete;
    RecordPlaylist& operator=(const RecordPlaylist&) = delete;

    enum class Refusal {
        None,
        Unreadable,     // the path (or a file of the folder) cannot be opened or read
        NotRecordFile,  // a single file whose header is not a record file header
        NoRecordFiles,  // a folder without a single record file
        NoRecords,      // record files, but not one whole record in them
    };
    // Opens a record file, or the record files of a folder. A single file
    // that is not a record file is refused; in a folder, files that are not
    // record files are passed over (see skipped()). Anything but None leaves
    // nothing to play; refusedPath() is the path it is about.
    Refusal open(const std::string& path);
    const std::string& refusedPath() const { return m_refusedPath; }

    size_t size() const { return m_records.size(); }
    bool empty() const { return m_records.empty(); }
    const RecordLocation& location(size_t record) const { return m_records[record].where; }
    int64_t time(size_t record) const { return m_records[record].where.time; }
    // The file that holds the record.
    const File& fileOf(size_t record) const { return m_files[m_records[record].file]; }
    const std::vector<File>& files() const { return m_files; }
    const std::vector<std::string>& skipped() const { return m_skipped; }
    // Bytes of torn tails over all files.
    uint64_t tornBytes() const;

    // Reads go through one file handle kept open for the next record: one
    // thread at a time (callers on several threads share a lock).
    // Reads the data of the record into data (resized to its length). False
    // when the file can no longer be read whole (changed or removed since it
    // was opened).
    bool read(size_t record, std::vector<uint8_t>& data) const;
    // The same into a string, of at most maxBytes: a longer record gives its
    // first maxBytes (a buffer is never made for a length only the file says).
    bool read(size_t record, std::string& data, size_t maxBytes) const;

private:
    struct Entry {
        RecordLocation where;
        size_t file = 0;
    };
    void addFile(const std::string& path, const RecordFileIndex& index,
                 const std::vector<RecordLocation>& records);
    void closeFd() const;
    // Reads count bytes of the record's data into to.
    bool readData(const Entry& entry, char* to, size_t count) const;

    std::vector<File> m_files;
    std::vector<Entry> m_records;
    std::vector<std::string> m_skipped;
    std::string m_refusedPath;
    // The file last read from stays open for the next record.
    mutable int m_fd = -1;
    mutable size_t m_fdFile = 0;
};
