#include "autolock.h"
AutoLock::AutoLock(const std::string& lockFile) : gotLock(lock_file(lockFile.c_str()) > 0), strLockFile(lockFile) {}
AutoLock::~AutoLock() { if (gotLock) remove_lock(strLockFile.c_str()); }
bool AutoLock::read_data(int, void*, size_t) { return false; }
bool AutoLock::write_data(int, const void*, size_t) { return false; }
int lock_file(const char*) { return 1; }
void remove_lock(const char*) {}
