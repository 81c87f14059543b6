// Single-instance lock: a file in /tmp holding the owner's process ID.
#pragma once

#include <cstddef>
#include <string>

class AutoLock {
public:
    explicit AutoLock(const std::string& lockFile);
    ~AutoLock();
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

    // Exactly count bytes, retrying after partial transfers and EINTR.
    static bool read_data(int fd, void* buffer, size_t count);
    static bool write_data(int fd, const void* buffer, size_t count);

    bool gotLock;
    std::string strLockFile;
};

// 1 obtained, 0 held by another live process (after three one-second waits), -1 error.
// Every refusal is logged with the file name and its reason.
int lock_file(const char* path);
void remove_lock(const char* path);
