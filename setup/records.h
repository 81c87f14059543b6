// Key lines of .installdb and sections of files.dat.
#pragma once

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
bool readLines(const std::string& path, std::vector<std::string>& lines);
// Replaces a record file (.installdb, files.dat) through a synced temporary file and a rename,
// so that a crash leaves either the old or the new content. Keeps the old mode (0644 when new).
bool replaceRecordFile(const std::string& path, const std::string& content);
// Deletes the temporaries of record replacements that a killed run left in the record directory.
// The single-instance lock guarantees that no other writer owns one now.
void removeRecordTemporaries(const std::string& installDir);
// Rewrites a file that is not ours in place (truncate and write), keeping its owner and mode.
bool rewriteInPlace(const std::string& path, const std::vector<std::string>& lines);
