// Key lines and sections of the record files. The input's first line is the key or
// section name, the rest the file's content.
#include "fuzz.h"
#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    std::string input = fuzz::text(data, size);
    size_t newline = input.find('\n');
    std::string key = input.substr(0, newline);
    std::string path = fuzz::file("records", newline == std::string::npos ? "" : input.substr(newline + 1));
    std::string value;
    readFileLine(path, key, value);
    updateFileLine(path, key, "5.2.4", size % 2 == 0);
    removeFileLine(path, key);
    std::unique_ptr<std::vector<std::string>> section = readSectionFromFilesDatAsVector(path, key.c_str());
    readSectionFromFilesDatAsString(path, key.c_str());
    updateSectionInFilesDat(path, key.c_str(), section.get());
    return 0;
}
