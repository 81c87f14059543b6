// Choosing and checking the install directory.
#pragma once

#include <memory>
#include <string>

#include "types.h"

bool getInstallDir(const std::string& userSpecifiedDir, std::string& installDir, std::string& linkDir);
bool Check_InstallDir_Attr(const std::string& installDir);

// The choice behind getInstallDir, without logging: which rule decided, the directories when it gave
// usable ones, and the message getInstallDir logs. sharedLookup answers for the shared profile files.
enum InstallDirRule { RULE_QZSHCOMP, RULE_QZLIB, RULE_INSTDIR, RULE_DEFAULT };
struct InstallDirChoice {
    bool usable = false;
    InstallDirRule rule = RULE_DEFAULT;
    std::string installDir;
    std::string linkDir;
    MessageType messageType = MT_INFO;
    const char* message = "";
};
using SharedProfileLookup = std::unique_ptr<std::string> (*)(const char* name);
InstallDirChoice chooseInstallDir(const std::string& userSpecifiedDir, SharedProfileLookup sharedLookup);
