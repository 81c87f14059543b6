// Key lines of .installdb and sections of files.dat.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

// 0 value found, 1 matching line with empty value, 2 no match or no lines, -1 unreadable.
int readFileLine(const std::string& szFilename, const std::string& szIdentifier, std::string& szValue);
// readFileLine's rule on lines already read.
int findFileLine(const std::vector<std::string>& lines, const std::string& szIdentifier, std::string& szValue);
bool updateFileLine(const std::string& szFilename, const std::string& szIdentifier, const std::string& szValue,
                    bool bEnd);
bool removeFileLine(const std::string& szFilename, const std::string& szIdentifier);

// Null when the file cannot be opened; empty when the section is absent.
std::unique_ptr<std::vector<std::string>> readSectionFromFilesDatAsVector(std::string fileName,
                                                                          const char* section_name);
// The same section of lines already read.
std::vector<std::string> sectionOfLines(const std::vector<std::string>& lines, const char* section_name);
std::string readSectionFromFilesDatAsString(std::string fileName, const char* section_name);
// 0 rewritten, 1 could not be written.
int updateSectionInFilesDat(std::string fileName, const char* section_name,
                            const std::vector<std::string>* section_lines);

// Reads every line of a file (LF-separated, a final line without LF included, no CR stripping).
// On false errno is ENOENT only when nothing stands at the name (see openRegularAt). accessMode O_RDWR
// also demands the right to write the file.
bool readLines(const std::string& path, std::vector<std::string>& lines, int accessMode = 0 /* O_RDONLY */);
// The same for reports that leave the log alone: a refused file is not logged.
bool readLinesSilently(const std::string& path, std::vector<std::string>& lines);
// Replaces a record file (.installdb, files.dat) through a synced temporary file and a rename,
// so that a crash leaves either the old or the new content. Keeps the old owner and mode (0644 when new).
bool replaceRecordFile(const std::string& path, const std::string& content);
// Deletes the temporaries of record replacements that a killed run left in the record directory.
// The single-instance lock guarantees that no other writer owns one now.
void removeRecordTemporaries(const std::string& installDir);
// Replaces a file that is not ours (a login file) whole, keeping its owner and mode; a new one gets the
// mode that the umask leaves of 0666. Never writes through a link or into anything but a plain file.
bool rewriteInPlace(const std::string& path, const std::vector<std::string>& lines);
// False, with the reason logged, when .installdb or files.dat is something other than a plain file.
bool recordFilesAreSafe(const std::string& installDir);

// The primitives behind them, for every file that a user or a tampered tree can reach.
// The directory part of path: "." for a bare name, "/" for a name directly below the root.
std::string directoryOf(const std::string& path);
// The directory holding path, opened without following a link below the install directory for a
// record file, as named otherwise; name receives the last component. -1 with errno.
int openParentDir(const std::string& path, std::string& name);
// Opens name in dirFd (flags: access mode and O_APPEND) only when it is a regular file of one link,
// never following a link nor waiting on a FIFO; st receives its status. -1 with errno: ENOENT when
// nothing stands there; ELOOP or EINVAL for a refused file, whose refusal is logged naming shownPath
// (when not empty).
int openRegularAt(int dirFd, const std::string& name, int flags, struct stat& st, const std::string& shownPath);
// openParentDir and openRegularAt in one.
int openRegularFile(const std::string& path, int flags, struct stat& st, const std::string& shownPath);
// Writes content to a new temporary beside name and renames it over name, within dirFd. The new file
// takes owner and mode from old when given, else the mode newMode.
bool replaceAt(int dirFd, const std::string& name, const std::string& content, const struct stat* old,
               mode_t newMode);
