// Versions of the kit and of the installation, and the dependant registry .installdb.
#pragma once

#include <cstdint>
#include <string>

#include "types.h"

inline constexpr uint64_t NO_VERSION = ~uint64_t(0);

#ifndef TARVO_VERSION_MAJOR
#define TARVO_VERSION_MAJOR 5
#define TARVO_VERSION_MINOR 2
#define TARVO_VERSION_BUILD 4
#endif

// "TARVO_KIT_VERSION=<version>" and a NUL: the mark by which the kit tool finds the
// version in a program image. thisKitVersion() is the version part; using it keeps
// the mark in a stripped, garbage-collected link.
extern const char g_kitVersionMark[];
const char* thisKitVersion();

extern std::string g_thisKitVersionString;
extern uint64_t g_thisKitVersionValue;
extern std::string g_existingVersionString;
extern uint64_t g_existingVersionValue;

std::string getVersionString(uint16_t major, uint16_t minor, uint16_t build);
uint64_t getVersionValue(const std::string& version);
// 0 no valid version recorded, 1 no registry (nothing installed), 2 valid version, -1 a registry that cannot be read.
int getExistingVersion(std::string& szVersionString, uint64_t* plVersionValue, const std::string& szInstallDir);
bool setExistingVersion(const std::string& szVersionString, const std::string& szInstallDir);
bool fileIntegrity(const std::string& InstallDir, const FileCollection& fcZipDataTable);
bool addDependency(const std::string& szInstallDir);
bool checkDependency(const std::string& szInstallDir, std::string& szVersion);
bool removeDependency(const std::string& szInstallDir);
int getNumExistingDependencies(const std::string& szInstallDir);
// Whether an install must place the payload, from the installed and this kit's versions.
bool decideUpgrade(const std::string& installDir, const FileCollection& fcZipData);
