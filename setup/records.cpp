#include "records.h"
int readFileLine(const std::string&, const std::string&, std::string&) { return -1; }
bool updateFileLine(const std::string&, const std::string&, const std::string&, bool) { return false; }
bool removeFileLine(const std::string&, const std::string&) { return false; }
std::unique_ptr<std::vector<std::string>> readSectionFromFilesDatAsVector(std::string, const char*) { return nullptr; }
std::string readSectionFromFilesDatAsString(std::string, const char*) { return ""; }
int updateSectionInFilesDat(std::string, const char*, const std::vector<std::string>*) { return 1; }
bool readLines(const std::string&, std::vector<std::string>&) { return false; }
bool replaceRecordFile(const std::string&, const std::string&) { return false; }
bool rewriteInPlace(const std::string&, const std::vector<std::string>&) { return false; }
