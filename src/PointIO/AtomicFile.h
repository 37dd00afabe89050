// Writing a file so that it appears whole or not at all: the data goes to a
// temporary in the target's folder, which replaces the target by rename once
// it is complete. A failure removes the temporary and leaves an existing
// target as it was. (No fsync: this guards against failed writes, not
// against a power loss.)
#pragma once

#include <cstdio>
#include <string>

class CAtomicFile {
public:
    // A target that is a symbolic link is written where the link points.
    explicit CAtomicFile(const std::string& target);
    // Removes the temporary unless Commit succeeded.
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary (mode 0666 less the umask). 1, or -1 when it
    // cannot be created or the target exists and is not writable.
    int Open();
    FILE* File() const { return m_file; }
    // Flushes and closes the temporary and renames it onto the target.
    // 1; -2 a write, flush or close failed (also when the stream shows an
    // earlier write error); -3 the rename failed.
    int Commit();
    // The system's reason for the last failure ("No space left on device").
    const std::string& Reason() const { return m_reason; }

private:
    void Discard();
    std::string m_target;
    std::string m_temp;
    FILE* m_file = nullptr;
    bool m_committed = false;
    std::string m_reason;
};
